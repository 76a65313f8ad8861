#include "pwnedfiles.h"
#include "queues/downloadthread.h"
#include "queues/getauththread.h"
#include "queues/installrpmthread.h"
#include "queues/quitinstallthread.h"
#include "queues/updaterpmthread.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "storage/database.h"
#include "sync/catalogframe.h"
#include "sync/catalogrequest.h"
#include "sync/heartthread.h"
#include "tests/core/queues/resultrecorder.h"
#include "tests/core/queues/toolbox.h"
#include "tests/core/sync/catalogfixture.h"
#include "tests/core/sync/framereceiver.h"
#include "tests/support/databaselock.h"
#include "tests/support/httpserver.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"
#include "vqs.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

#include <memory>

using namespace CatalogFixture;

namespace
{

const int Long = 180000;
// How long the concurrent writers run.
const int WritersRunMs = 60000;
using Recorder = FrameRecorder;
using Receiver = FrameReceiver;

// Every file below a directory, relative to it, with its size: what must stay unchanged.
QStringList listing(const QString &directory)
{
    QStringList entries;
    QDirIterator it(directory, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        entries << QDir(directory).relativeFilePath(it.filePath()) + QLatin1Char(' ') +
                       QString::number(it.fileInfo().size());
    }
    entries.sort();
    return entries;
}

// A directory beside the sandbox with a few files the store must never reach.
class Marker
{
public:
    Marker()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("keep/inner"));
        writeFile(m_dir.path() + QStringLiteral("/keep/a.txt"), "a");
        writeFile(m_dir.path() + QStringLiteral("/keep/inner/b.txt"), "bb");
        m_before = listing(m_dir.path());
    }
    QString path() const { return m_dir.path() + QStringLiteral("/keep"); }
    bool intact() const { return listing(m_dir.path()) == m_before; }

private:
    QTemporaryDir m_dir;
    QStringList m_before;
};

// The hostile values; %1 is replaced by the sandbox root, %2 by the marker directory seen
// from the package directory.
QStringList hostileTemplates()
{
    return {
        QStringLiteral("it's"),
        QStringLiteral("x\";touch %1/pwned1;\""),
        QStringLiteral("x$(touch %1/pwned2)"),
        QStringLiteral("x`touch %1/pwned3`"),
        QStringLiteral("x\ntouch %1/pwned4\n"),
        QStringLiteral("x';touch %1/pwned5;'"),
        QStringLiteral("%2"),
        QStringLiteral(".."),
        QStringLiteral("-rf"),
        QStringLiteral("cv-hello;rpm -e cv-hello"),
    };
}

QString expand(const QString &text, const Sandbox &sandbox, const Marker &marker)
{
    return QString(text)
        .replace(QStringLiteral("%1"), sandbox.root())
        .replace(QStringLiteral("%2"),
                 QDir(sandbox.packageDirectory()).relativeFilePath(marker.path()));
}

CatalogPackage everywhere(const QString &value)
{
    CatalogPackage p;
    for (const CatalogPackage::Column &column : CatalogPackage::columns())
        p.*column.field = value;
    return p;
}

QString rowName(const QString &value)
{
    return QString(value).replace(QLatin1Char('\n'), QLatin1String("\\n")).left(28);
}

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

TestPackage standard(const QString &name, const QString &version)
{
    for (const TestPackage &package : TestRepository::standardPackages())
        if (package.name == name && package.version == version)
            return package;
    return TestPackage();
}

// What an earlier download leaves for the install worker.
bool placeDownload(const Sandbox &sandbox, const TestPackage &package)
{
    const QString directory = sandbox.packageDirectory() + '/' + package.packageString();
    return QDir().mkpath(directory) && QFile::copy(TestRepository::shared().packageFile(package),
                                                   directory + '/' + package.fileName());
}

int count(const QString &database, const QString &sql)
{
    return query(database, sql).value(0).value(QStringLiteral("n")).toInt();
}

} // namespace

class TestFault : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        useLoopbackTransport();
    }

    void hostileFrameIsStoredAsSent_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("action");
        for (const QString &value : hostileTemplates()) {
            for (const char *action : {"data_add_push", "data_update_push"})
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(action, rowName(value))))
                    << value << QString::fromLatin1(action);
        }
        QTest::newRow("very long") << QString(5000, QLatin1Char('x')) + QLatin1Char('\'')
                                   << QStringLiteral("data_add_push");
    }

    // Every attribute of the package carries the same hostile value.
    void hostileFrameIsStoredAsSent()
    {
        QFETCH(QString, value);
        QFETCH(QString, action);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        // The installed-package snapshot waits for a non-empty listing.
        QVERIFY(sandbox.install(Hello10));
        Marker marker;
        const QString hostile = expand(value, sandbox, marker);
        Receiver receiver;
        QVERIFY(receiver.start());

        const QString frame = CatalogFrame::compose(action, {everywhere(hostile)});
        QVERIFY(utf8(frame).size() < 65536);
        vqs_message_send("127.0.0.1", utf8(frame).constData());
        QVERIFY(receiver.drain(QStringLiteral("after-hostile")));
        QVERIFY(receiver.recorder.frames.contains(frame));

        const Row stored = row(hostile);
        QVERIFY2(!stored.isEmpty(), "the package row was not stored");
        for (const CatalogPackage::Column &column : CatalogPackage::columns())
            QCOMPARE(stored.value(QString::fromLatin1(column.column)), hostile);
        QCOMPARE(names(), QStringList{hostile});

        // A delete for the same name removes exactly that row.
        vqs_message_send("127.0.0.1", utf8(CatalogFrame::compose(QStringLiteral("data_delete_push"),
                                                                 {everywhere(hostile)}))
                                          .constData());
        QVERIFY(receiver.drain(QStringLiteral("after-delete")));
        QVERIFY(names().isEmpty());

        QCOMPARE(pwnedFiles(sandbox.root()), QStringList());
        QVERIFY(marker.intact());
        QVERIFY(QFileInfo(Paths::iconDirectory()).isDir());
        QVERIFY(receiver.stop());
    }

    // Bytes that are not UTF-8 must neither stop the receiver nor reach a shell.
    void invalidUtf8FrameKeepsReceiverRunning()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        Receiver receiver;
        QVERIFY(receiver.start());
        const QByteArray bad = "x\xff\xfe\xc3$(touch " + utf8(sandbox.root()) + "/pwned)";
        const QByteArray frame = "<frame action='data_add_push'><datas architecture='x86_64'>"
                                 "<soft name='" +
                                 bad + "' icon='" + bad + "' exec='" + bad + "' rpm='" + bad +
                                 "'/></datas></frame>";
        vqs_message_send("127.0.0.1", frame.constData());
        QVERIFY(receiver.drain(QStringLiteral("after-bytes")));
        // A clean frame afterwards is stored as usual.
        vqs_message_send("127.0.0.1", utf8(CatalogFrame::compose(QStringLiteral("data_add_push"),
                                                                 {package("ok", "ok-1-1")}))
                                          .constData());
        QVERIFY(receiver.drain(QStringLiteral("after-clean")));
        QVERIFY(names().contains(QStringLiteral("ok")));
        QCOMPARE(pwnedFiles(sandbox.root()), QStringList());
    }

    // The frame receiver, an install worker and the download manager's writers on the GUI
    // thread all write both databases at once; every write must arrive.
    void concurrentWritersLoseNothing()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        const QVector<TestPackage> toInstall = {standard("cv-editor", "2.0"),
                                                standard("cv-player", "3.2")};
        for (const TestPackage &package : toInstall) {
            QVERIFY(!package.name.isEmpty());
            QVERIFY(placeDownload(sandbox, package));
            QCOMPARE(exec_sql(utf8(Paths::catalogDatabase()).constData(),
                              "insert into softwares(s_name,s_icon,s_rpm,sign) values(?,?,?,?)",
                              utf8(package.name).constData(), utf8(package.name).constData(),
                              utf8(package.packageString()).constData(), "0"),
                     0);
        }
        Receiver receiver;
        QVERIFY(receiver.start());
        ResultRecorder recorder;
        WorkerPtr worker = watched<InstallRpmThread>(recorder);
        for (const TestPackage &package : toInstall)
            worker->insertQueue(OperInfo{QStringLiteral("安装"), QStringLiteral("1"),
                                         package.packageString(), package.name});
        worker->start();

        const QByteArray local = utf8(Paths::localDatabase());
        int writes = 0;
        int failures = 0;
        QStringList sent;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < WritersRunMs) {
            const QByteArray number = QByteArray::number(writes);
            for (const char *sql :
                 {"insert into loadmanage(display_name,name,state,operation,number) "
                  "values('显示','key','正在下载','下载',?)",
                  "insert into loadrecord(display_name,name,state,operation,number) "
                  "values('显示','key','下载成功','下载',?)"})
                failures += exec_sql(local.constData(), sql, number.constData());
            if (writes % 25 == 0) {
                const QString name = QStringLiteral("cv-pushed-%1").arg(writes);
                vqs_message_send("127.0.0.1",
                                 utf8(CatalogFrame::compose(QStringLiteral("data_add_push"),
                                                            {package(name, name + "-1-1")}))
                                     .constData());
                sent << name;
            }
            ++writes;
            QCoreApplication::processEvents();
        }
        QVERIFY(receiver.drain(QStringLiteral("after-writers")));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 2, Long);
        worker->stop();
        QVERIFY(worker->wait(Long));
        // One more frame, so the table ends as the receiver's reload of rpm -qa leaves it.
        QVERIFY(receiver.drain(QStringLiteral("after-worker")));

        QCOMPARE(failures, 0);
        QCOMPARE(
            count(Paths::localDatabase(), "select count(distinct number) as n from loadmanage"),
            writes);
        QCOMPARE(
            count(Paths::localDatabase(), "select count(distinct number) as n from loadrecord"),
            writes);
        for (const QString &name : sent)
            QVERIFY2(row(name).value(QStringLiteral("s_rpm")) == name + "-1-1", qPrintable(name));
        QCOMPARE(recorder.results, QStringList({"installExecEnd 安装 0 1 cv-editor",
                                                "installExecEnd 安装 0 1 cv-player"}));
        for (const TestPackage &package : toInstall)
            QCOMPARE(row(package.name).value(QStringLiteral("sign")), QStringLiteral("2"));
        QCOMPARE(installed(),
                 QStringList({"cv-editor 2.0 1", "cv-hello 1.0 1", "cv-player 3.2 4"}));
    }

    // A catalog database another process keeps locked for ten seconds: the frame that arrives
    // meanwhile is discarded whole, writers give up with their failure code, and both work
    // again once the lock is gone.
    void lockedDatabaseFailsCleanly()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        Receiver receiver;
        QVERIFY(receiver.start());
        const QString frame = CatalogFrame::compose(QStringLiteral("data_add_push"),
                                                    {package("cv-locked", "cv-locked-1-1")});
        const QByteArray catalog = utf8(Paths::catalogDatabase());
        {
            DatabaseLock lock(Paths::catalogDatabase());
            QVERIFY(lock.isLocked());
            vqs_message_send("127.0.0.1", utf8(frame).constData());
            QCOMPARE(exec_sql(catalog.constData(),
                              "insert into softwares(s_name,s_rpm) values('cv-writer','w-1-1')"),
                     1);
            QVERIFY(receiver.drain(QStringLiteral("during-lock")));
        }
        QVERIFY(!receiver.recorder.frames.contains(frame));
        QVERIFY(names().isEmpty());

        vqs_message_send("127.0.0.1", utf8(frame).constData());
        QVERIFY(receiver.drain(QStringLiteral("after-lock")));
        QVERIFY(receiver.recorder.frames.contains(frame));
        QCOMPARE(exec_sql(catalog.constData(),
                          "insert into softwares(s_name,s_rpm) values('cv-writer','w-1-1')"),
                 0);
        QCOMPARE(names(), QStringList({"cv-locked", "cv-writer"}));
    }

    void killedYumDownload_data()
    {
        QTest::addColumn<int>("kills");
        QTest::addColumn<int>("code");
        QTest::newRow("killed once, the retry downloads") << 1 << 0;
        QTest::newRow("killed twice") << 2 << -1;
    }

    // yum dies from a signal in the middle of a download.
    void killedYumDownload()
    {
        QFETCH(int, kills);
        QFETCH(int, code);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        // The first calls note their pid and hang until killed; later ones are the real yum.
        tools.add(QStringLiteral("yum"),
                  QStringLiteral("n=$(wc -l < \"$0.log\")\n"
                                 "if [ \"$n\" -le %1 ]; then echo $$ > \"$EVENTS.pid$n\"; "
                                 "exec /bin/sleep 600; fi\n"
                                 "exec \"$SHIM\" \"$@\"")
                      .arg(kills));
        const TestPackage hello = standard("cv-hello", "1.0");
        ResultRecorder recorder;
        WorkerPtr worker = watched<DownloadThread>(recorder);
        worker->insertQueue(OperInfo{QStringLiteral("下载"), QStringLiteral("9"),
                                     hello.packageString(), hello.name});
        worker->start();
        for (int k = 1; k <= kills; ++k) {
            const QString pidFile = tools.eventsFile() + QStringLiteral(".pid%1").arg(k);
            QTRY_VERIFY_WITH_TIMEOUT(!readFile(pidFile).trimmed().isEmpty(), Long);
            QCOMPARE(::kill(readFile(pidFile).trimmed().toInt(), SIGKILL), 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 1, Long);
        worker->stop();
        QVERIFY(worker->wait(Long));
        QCoreApplication::processEvents();

        QCOMPARE(recorder.results,
                 QStringList{QStringLiteral("downloadExecEnd 下载 %1 9 cv-hello").arg(code)});
        const QString directory = sandbox.packageDirectory() + '/' + hello.packageString();
        if (code == 0)
            QVERIFY(QFileInfo::exists(directory + '/' + hello.fileName()));
        else
            QVERIFY(!QFileInfo::exists(directory));
        QCOMPARE(tools.calls(QStringLiteral("yum")).size(), code == 0 ? kills + 1 : kills);
        QVERIFY(sandbox.installedPackages().isEmpty());
    }

    void unreachableCatalogKeepsStore_data()
    {
        QTest::addColumn<bool>("httpUp");
        QTest::newRow("HTTP server down") << false;
        QTest::newRow("catalog file missing (404)") << true;
    }

    // Neither the catalog server nor the catalog file can be had; what the store holds stays,
    // and a catalog file left from an earlier start is not replayed as if it were new.
    void unreachableCatalogKeepsStore()
    {
        QFETCH(bool, httpUp);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        QTemporaryDir served;
        std::unique_ptr<HttpServer> http(new HttpServer(served.path()));
        QVERIFY(http->isRunning());
        sandbox.setConfig(QStringLiteral("iconurl"), http->url().chopped(1));
        if (!httpUp)
            http->stop();
        // Nothing listens there on this port.
        sandbox.setConfig(QStringLiteral("serverip"), QStringLiteral("127.0.0.3"));
        sandbox.setConfig(QStringLiteral("vqssend"), QStringLiteral("false"));
        QVERIFY(
            writeFile(Paths::catalogDataFile(),
                      utf8(frame("data_resp", "x86_64", {package("stale", "stale-1-1")})) + "\n"));

        Receiver receiver;
        QVERIFY(receiver.start());
        vqs_message_send(
            "127.0.0.1",
            utf8(frame("data_resp", "x86_64", {package("A", "cv-a-1-1"), package("B", "cv-b-1-1")}))
                .constData());
        QVERIFY(receiver.drain(QStringLiteral("stored")));
        QCOMPARE(names(), QStringList({"A", "B"}));

        CatalogRequest::send();
        QVERIFY(receiver.drain(QStringLiteral("after-request")));
        QCOMPARE(names(), QStringList({"A", "B"}));
        QVERIFY(!receiver.recorder.frames.join(QString()).contains(QStringLiteral("stale")));
    }

    void hostilePackageStringFailsEveryOperation_data()
    {
        QTest::addColumn<QString>("value");
        for (const QString &value : hostileTemplates())
            QTest::newRow(qPrintable(rowName(value))) << value;
    }

    // The five workers get the hostile value as package string and task key, as a catalog
    // row holding it would hand them.
    void hostilePackageStringFailsEveryOperation()
    {
        QFETCH(QString, value);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        Marker marker;
        const QString hostile = expand(value, sandbox, marker);
        QVERIFY(QDir().mkpath(sandbox.packageDirectory()));
        QVERIFY(writeFile(sandbox.packageDirectory() + QStringLiteral("/../keep.txt"), "k"));
        // An installed package the hostile value must not reach.
        QVERIFY(sandbox.install(Hello10));
        const QStringList packagesBefore = sandbox.installedPackages();
        exec_sql(utf8(Paths::catalogDatabase()).constData(),
                 "insert into softwares(s_name,s_icon,s_rpm,sign) values(?,?,?,?)",
                 utf8(hostile).constData(), utf8(hostile).constData(), utf8(hostile).constData(),
                 "0");

        ResultRecorder recorder;
        std::vector<WorkerPtr> workers;
        workers.push_back(watched<GetAuthThread>(recorder));
        workers.push_back(watched<InstallRpmThread>(recorder));
        workers.push_back(watched<QuitInstallThread>(recorder));
        workers.push_back(watched<DownloadThread>(recorder));
        workers.push_back(watched<UpdateRpmThread>(recorder));
        const QStringList words = {"卸载", "安装", "一键安装", "下载", "升级"};
        for (int k = 0; k < 5; ++k) {
            workers[k]->insertQueue(OperInfo{words[k], QStringLiteral("7"), hostile, hostile});
            workers[k]->start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 5, Long);
        for (WorkerPtr &worker : workers) {
            worker->stop();
            QVERIFY(worker->wait(Long));
        }
        QCoreApplication::processEvents();

        // A value that can name a package is uninstalled like one: rpm -e fails, and as the
        // listing does not hold it either the uninstall counts as done.
        const bool refused = !Quoting::isSafePathComponent(hostile);
        const QStringList expected = {
            refused ? "uninstallExecEnd 卸载 -1 7 " : "uninstallExecEnd 卸载 0 7 ",
            "installExecEnd 安装 -2 7 ", "quickinstallExecEnd 一键安装 -1 7 ",
            "downloadExecEnd 下载 -1 7 ", "updateRpmExecEnd 升级 -1 7 "};
        QStringList results = recorder.results;
        QStringList wanted;
        for (const QString &line : expected)
            wanted << line + hostile;
        results.sort();
        wanted.sort();
        QCOMPARE(results, wanted);

        QCOMPARE(sandbox.installedPackages(), packagesBefore);
        QCOMPARE(pwnedFiles(sandbox.root()), QStringList());
        QVERIFY(marker.intact());
        QVERIFY(QFileInfo::exists(sandbox.packageDirectory() + QStringLiteral("/../keep.txt")));
        QVERIFY(QFileInfo(sandbox.packageDirectory()).isDir());
        QVERIFY(QFileInfo(Paths::catalogDatabase()).isFile());
    }
};

QTEST_GUILESS_MAIN(TestFault)
#include "tst_fault.moc"
