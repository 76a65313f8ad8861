#include "queues/getauththread.h"
#include "queues/installrpmthread.h"
#include "records/paths.h"
#include "sync/catalogrequest.h"
#include "sync/getvqsdatathread.h"
#include "sync/initdatathread.h"
#include "tasks/installitem.h"
#include "tasks/killthread.h"
#include "tests/core/queues/resultrecorder.h"
#include "tests/core/queues/toolbox.h"
#include "tests/core/sync/catalogfixture.h"
#include "tests/core/sync/framereceiver.h"
#include "tests/support/cancelledrun.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"

#include <QtWidgets>

#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

using namespace CatalogFixture;

namespace
{

// The store's steps that write a scratch file or the scratch directory and read it back.
enum class Step {
    InitialLoad,
    InitDatabaseData,
    Install,
    Uninstall,
    RunningCheck,
    ProgressTick,
    KillDownload,
    CatalogRequest,
    PushPoller
};

struct Scratch {
    const char *name;
    QString (*path)();
    Step step;
    QByteArray planted; // what another user leaves there; empty: the scratch directory
};

const QByteArray Listing = "planted-6.6-6.x86_64\n";
const uid_t Stranger = 65534;
const int Long = 120000;

const QVector<Scratch> &scratches()
{
    static const QVector<Scratch> all = {
        {"info.txt, start-up load", &Paths::installedListFile, Step::InitialLoad, Listing},
        {"info.txt, synchronous reload", &Paths::installedListFile, Step::InitDatabaseData,
         Listing},
        {"findrpm", &Paths::findRpmFile, Step::Install, Listing},
        {"existrpm", &Paths::existRpmFile, Step::Uninstall, Listing},
        {"app_isrunning", &Paths::appIsRunningFile, Step::RunningCheck, Listing},
        // A yum process id whose partial file would read as complete.
        {"process_yum", &Paths::processYumFile, Step::ProgressTick, "424242\n"},
        {"pkgsize", &Paths::packageSizeFile, Step::ProgressTick, "4000\n"},
        // A line naming an innocent process as the download.
        {"process", &Paths::processFile, Step::KillDownload, "{innocent}"},
        {".cv_data, catalog request", &Paths::dataDirectory, Step::CatalogRequest, {}},
        {".cv_data, push poller", &Paths::dataDirectory, Step::PushPoller, {}},
    };
    return all;
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every entry below a directory with its content, to see that nothing there changed.
QStringList tree(const QString &directory)
{
    QStringList entries;
    QDirIterator it(directory, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries << path + '=' + QString::fromUtf8(readFile(path));
    }
    entries.sort();
    return entries;
}

// A process whose command line reads as text; it only sleeps.
std::unique_ptr<QProcess> sleeper(const QString &commandLine)
{
    auto process = std::make_unique<QProcess>();
    process->start("bash", {"-c", "exec -a \"$0\" sleep 600", commandLine});
    process->waitForStarted();
    return process;
}

QString downloadLine(const QString &key)
{
    return "yum install --downloadonly --downloaddir /var/cache/corvane/packages/" + key +
           "-1.0-1 " + key + "-1.0";
}

} // namespace

// Root never writes through a link or into a file another user planted at a scratch path,
// and never takes what was planted there for its own output.
class TestScratch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        useLoopbackTransport();
        m_innocent = sleeper("innocent");
        QVERIFY(m_innocent->state() == QProcess::Running);
    }

    void cleanupTestCase() { m_innocent->kill(), m_innocent->waitForFinished(); }

    void plantedEntriesAreNeverUsed_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("link"); // else owned by another user
        for (int i = 0; i < scratches().size(); ++i) {
            QTest::addRow("%s, link", scratches()[i].name) << i << true;
            QTest::addRow("%s, another user's", scratches()[i].name) << i << false;
        }
    }

    void plantedEntriesAreNeverUsed()
    {
        QFETCH(int, index);
        QFETCH(bool, link);
        const Scratch &scratch = scratches()[index];
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install({"cv-hello", "1.0", "1"}));
        ToolBox tools(sandbox);
        const QString outside = sandbox.path("/outside");
        QVERIFY(QDir().mkpath(outside));
        plant(scratch, link, outside);
        const QStringList before = tree(outside);

        run(scratch.step, sandbox, tools);
        QCOMPARE(tree(outside), before);
        // What is left at the name is the store's own.
        const QFileInfo left(scratch.path());
        if (left.exists() || left.isSymLink()) {
            QVERIFY(!left.isSymLink());
            QCOMPARE(left.ownerId(), geteuid());
        }
    }

private:
    void plant(const Scratch &scratch, bool link, const QString &outside)
    {
        const QString path = QDir::cleanPath(scratch.path());
        if (scratch.planted.isEmpty()) {
            // The scratch directory, with a planted catalog and push file in it.
            QVERIFY(QDir().rmdir(path));
            if (link) {
                QVERIFY(QDir().mkpath(outside + "/dir"));
                QVERIFY(QFile::link(outside + "/dir", path));
                return;
            }
            QVERIFY(QDir().mkpath(path) && chown(qPrintable(path), Stranger, Stranger) == 0);
            const QByteArray frame = CatalogFixture::frame("data_add_push", "x86_64",
                                                           {package("planted", "planted-1-1")})
                                         .toUtf8() +
                                     '\n';
            for (const char *name : {"data_x86_64", "push_x86_64"})
                plantFile(path + '/' + name, frame, outside + '/' + name);
            return;
        }
        QByteArray content = scratch.planted;
        if (scratch.step == Step::KillDownload)
            content = "root " + QByteArray::number(m_innocent->processId()) +
                      " 1 0 00:00 ? 00:00:00 " + downloadLine(m_key).toUtf8() + '\n';
        if (link) {
            QVERIFY(write(outside + "/target", "outside\n"));
            QVERIFY(QFile::link(outside + "/target", path));
        } else {
            plantFile(path, content, outside + "/target");
        }
    }

    // A file of another user's, with a second name outside: a write into it shows there.
    void plantFile(const QString &path, const QByteArray &content, const QString &outsideName)
    {
        QVERIFY(write(path, content));
        QVERIFY(chown(qPrintable(path), Stranger, Stranger) == 0);
        QVERIFY(::link(qPrintable(path), qPrintable(outsideName)) == 0);
    }

    void run(Step step, Sandbox &sandbox, ToolBox &tools)
    {
        ResultRecorder recorder;
        switch (step) {
        case Step::InitialLoad: {
            InitDataThread thread;
            thread.start();
            QVERIFY(thread.wait(Long));
            QCOMPARE(installed(), QStringList{"cv-hello 1.0 1"});
            return;
        }
        case Step::InitDatabaseData: {
            // Its listing is info.txt in the working directory.
            const QString saved = QDir::currentPath();
            QVERIFY(QDir::setCurrent(sandbox.path("/tmp")));
            QTest::ignoreMessage(QtDebugMsg, "start while");
            CatalogRequest::initDatabaseData();
            QDir::setCurrent(saved);
            QCOMPARE(installed(), QStringList{"cv-hello 1.0 1"});
            return;
        }
        case Step::Install:
        case Step::Uninstall: {
            // rpm installs and fails to erase; its listing names the package only when the
            // install is checked.
            const bool install = step == Step::Install;
            tools.add("rpm", QString("case \"$1\" in -U*) exit 0;; -e) exit 2;; -qa) %1 exit 0;; "
                                     "esac\nexec \"$SHIM\" \"$@\"")
                                 .arg(install ? "echo cv-hello-1.0-1.x86_64;" : ""));
            WorkerPtr worker =
                install ? watched<InstallRpmThread>(recorder) : watched<GetAuthThread>(recorder);
            worker->insertQueue({install ? "安装" : "卸载", "1", "cv-hello-1.0-1", "cv-hello"});
            worker->start();
            QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 1, Long);
            QCOMPARE(recorder.results.first(), install ? "installExecEnd 安装 0 1 cv-hello"
                                                       : "uninstallExecEnd 卸载 0 1 cv-hello");
            return;
        }
        case Step::RunningCheck: {
            RpmData data;
            data.m_exec = "cv-not-running-" + QString::number(getpid());
            InstallItem item(nullptr, data, {}, "卸载", 0, nullptr);
            bool mayProceed = false;
            connect(&item, &InstallItem::isRunningSignal, &item,
                    [&](int, QTableWidget *, QString, QString, bool may) {
                        mayProceed = may;
                        return false;
                    });
            item.execTask("卸载");
            QVERIFY(mayProceed);
            return;
        }
        case Step::ProgressTick: {
            RpmData data;
            data.m_rpm = "cv-big-1.0-1";
            data.m_icon = "cv-big";
            data.m_size = "4000";
            const QString stem = sandbox.packageDirectory() + "/cv-big-1.0-1/cv-big-1.0-1";
            QVERIFY(QDir().mkpath(QFileInfo(stem).path()));
            InstallItem item(nullptr, data, {}, "下载", 0, nullptr);
            QSignalSpy progress(&item, &InstallItem::progressSignal);
            item.execTask("下载");
            QVERIFY(write(stem + ".x86_64.rpm", QByteArray(1000, 'x')));
            QVERIFY(write(stem + ".x86_64.rpm.424242.tmp", QByteArray(4000, 'x')));
            item.setProgressSlot();
            QCOMPARE(progress.count(), 1);
            QCOMPARE(progress.first(), QVariantList({"cv-big", 25}));
            return;
        }
        case Step::KillDownload: {
            auto first = sleeper(downloadLine(m_key)), second = sleeper(downloadLine(m_key));
            const CancelledRun cancelled(m_key);
            KillThread thread(m_key);
            thread.start();
            QVERIFY(first->waitForFinished(Long) && second->waitForFinished(Long));
            QVERIFY(thread.wait(Long));
            QVERIFY(m_innocent->state() == QProcess::Running);
            return;
        }
        case Step::CatalogRequest: {
            tools.add("mkdir", "exec /bin/mkdir \"$@\"");
            sandbox.setConfig("vqssend", "false");
            FrameReceiver receiver;
            QVERIFY(receiver.start());
            CatalogRequest::send();
            QVERIFY(receiver.drain("done"));
            QVERIFY(!names().contains("planted"));
            const QList<QStringList> mkdirCalls{{"-p", sandbox.path("/tmp/.cv_data")}};
            QCOMPARE(tools.calls("mkdir"), mkdirCalls);
            return;
        }
        case Step::PushPoller:
            break;
        }
        // The poller waits at the sleep gates; its first cycle has fetched once the third
        // wait begins.
        sandbox.prependPath(toolFolder("sleepgate"));
        sandbox.setConfig("refresh", "7");
        const QString gates = sandbox.path("/.sandbox/sleep");
        auto *poller = new GetVQSDataThread;
        poller->start();
        for (int n = 1; n <= 2; ++n) {
            QTRY_COMPARE_WITH_TIMEOUT(readLines(gates + "/requests").size(), n, Long);
            QVERIFY(write(gates + QStringLiteral("/open-%1").arg(n), ""));
        }
        QTRY_COMPARE_WITH_TIMEOUT(readLines(gates + "/requests").size(), 3, Long);
        // It never ends by design.
        poller->terminate();
        QVERIFY(poller->wait(Long));
        delete poller;
    }

    std::unique_ptr<QProcess> m_innocent;
    const QString m_key = "cv-scratch" + QString::number(getpid());
};

QTEST_MAIN(TestScratch)
#include "tst_scratch.moc"
