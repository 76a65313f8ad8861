#include "engine/clientthread.h"
#include "engine/processprobe.h"
#include "engine/shellfunctions.h"
#include "engine/updatethread.h"
#include "records/codes.h"
#include "records/paths.h"
#include "storage/database.h"
#include "sync/heartthread.h"
#include "tests/support/sandbox.h"
#include "tests/support/sqlrows.h"
#include "tests/support/storerows.h"
#include "tests/support/testfiles.h"
#include "tests/support/testrepository.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

#include <unistd.h>

namespace
{

QByteArray catalogDb()
{
    return Paths::catalogDatabase().toUtf8();
}
QByteArray localDb()
{
    return Paths::localDatabase().toUtf8();
}

int runOperation(const QString &key, int type)
{
    ClientThread thread(key, type);
    thread.start();
    thread.wait();
    return thread.setEndValue();
}

// The catalog and installed-package rows the operations record their outcome in.
void addCatalogRow(const QString &rpm, const QString &sign)
{
    QVERIFY(StoreRows::addCatalogRow({{"s_name", rpm}, {"s_rpm", rpm}, {"sign", sign}}));
}

void addInstalledRow(const QString &name, const QString &version, const QString &release)
{
    QVERIFY(StoreRows::addInstalledRow(name, version, release));
}

QStringList signs()
{
    return rowsOf(catalogDb(), "select s_rpm,sign from softwares order by s_rpm");
}

QStringList installedRows()
{
    return rowsOf(localDb(), "select name,version,release_ver from software order by name");
}

TestPackage package(const QString &name, const QString &version, const QString &release)
{
    for (const TestPackage &p : TestRepository::shared().packages())
        if (p.name == name && p.version == version && p.release == release)
            return p;
    return {};
}

// The copies of each directory and decoding function behave alike.
using DirectoryFunction = std::function<bool(const QString &)>;

QVector<QPair<const char *, DirectoryFunction>> creators()
{
    return {
        {"createDirectory", [](const QString &p) { return createDirectory(p); }},
        {"ClientThread",
         [](const QString &p) { return ClientThread(QString(), 0).createDirectoryThread(p); }},
        {"UpdateThread", [](const QString &p) { return UpdateThread().createDirectory(p); }},
    };
}

QVector<QPair<const char *, DirectoryFunction>> removers()
{
    return {
        {"removeDirectory", [](const QString &p) { return removeDirectory(p); }},
        {"ClientThread",
         [](const QString &p) { return ClientThread(QString(), 0).removeDirectoryThread(p); }},
        {"UpdateThread", [](const QString &p) { return UpdateThread().removeDirectory(p); }},
        {"HeartThread", [](const QString &p) { return HeartThread().removeDirectory(p); }},
    };
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
    }

    void init()
    {
        m_sandbox.reset(new Sandbox(&TestRepository::shared()));
        QVERIFY2(m_sandbox->isValid(), qPrintable(m_sandbox->errorString()));
        m_packages = m_sandbox->packageDirectory();
    }
    void cleanup() { m_sandbox.reset(); }

    void createDirectory_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<bool>("expected");
        QTest::newRow("existing directory") << "dir" << true << true;
        QTest::newRow("new directory") << "dir" << false << true;
        QTest::newRow("missing parent") << "missing/dir" << false << false;
        QTest::newRow("regular file in the way") << "file" << true << false;
    }
    void createDirectory()
    {
        QFETCH(QString, path);
        QFETCH(bool, existing);
        QFETCH(bool, expected);
        for (const auto &creator : creators()) {
            QTemporaryDir base;
            const QString target = base.path() + '/' + path;
            if (existing && path == "file") {
                QVERIFY(writeFile(target));
            } else if (existing) {
                QVERIFY(QDir().mkpath(target));
                QVERIFY(writeFile(target + "/kept"));
            }
            QVERIFY2(creator.second(target) == expected, creator.first);
            QCOMPARE(QFileInfo(target).isDir(), expected);
            if (existing && expected)
                QVERIFY2(QFileInfo::exists(target + "/kept"), creator.first);
            // One level only: a missing parent is not made either.
            QCOMPARE(QFileInfo::exists(base.path() + "/missing"), false);
        }
    }

    void createDirectoryRelative()
    {
        QTemporaryDir base;
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(base.path()));
        const bool created = ::createDirectory("relative");
        QDir::setCurrent(saved);
        QVERIFY(created);
        QVERIFY(QFileInfo(base.path() + "/relative").isDir());
    }

    void removeDirectory_data()
    {
        QTest::addColumn<QStringList>("files"); // made below the target before removal
        QTest::addColumn<QString>("link");      // a link named so, pointing at a directory outside
        QTest::addColumn<bool>("expected");
        QTest::addColumn<bool>("remains");
        QTest::newRow("nested tree")
            << QStringList{"a/b/c/file", "a/file", "top", "d/e/"} << QString() << true << false;
        QTest::newRow("empty directory") << QStringList{} << QString() << true << false;
        QTest::newRow("hidden entry stays")
            << QStringList{"a/.hidden", "visible"} << QString() << false << true;
        QTest::newRow("link inside is not followed")
            << QStringList{"file"} << "inner" << true << false;
        QTest::newRow("missing") << QStringList{"<none>"} << QString() << false << false;
    }
    void removeDirectory()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, link);
        QFETCH(bool, expected);
        QFETCH(bool, remains);
        for (const auto &remover : removers()) {
            QTemporaryDir base;
            const QString target = base.path() + "/target";
            const QString outside = base.path() + "/outside";
            QVERIFY(QDir().mkpath(outside));
            QVERIFY(writeFile(outside + "/precious"));
            if (files != QStringList{"<none>"}) {
                QVERIFY(QDir().mkpath(target));
                for (const QString &file : files) {
                    const QString path = target + '/' + file;
                    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
                    if (!file.endsWith('/'))
                        QVERIFY(writeFile(path));
                }
            }
            if (!link.isEmpty())
                QVERIFY(QFile::link(outside, target + '/' + link));

            QVERIFY2(remover.second(target) == expected, remover.first);
            QVERIFY2(QFileInfo::exists(target) == remains, remover.first);
            QVERIFY2(QFileInfo::exists(outside + "/precious"), remover.first);
        }
    }

    void removeDirectoryRefusesOtherPlaces_data()
    {
        QTest::addColumn<bool>("emptyPath");
        QTest::newRow("empty path, the working directory") << true;
        QTest::newRow("linked directory") << false;
    }
    void removeDirectoryRefusesOtherPlaces()
    {
        QFETCH(bool, emptyPath);
        QTemporaryDir base;
        const QString elsewhere = base.path() + "/elsewhere";
        QVERIFY(QDir().mkpath(elsewhere + "/sub"));
        QVERIFY(writeFile(elsewhere + "/sub/precious"));
        QVERIFY(QFile::link(elsewhere, base.path() + "/link"));
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere));
        for (const auto &remover : removers())
            QVERIFY2(!remover.second(emptyPath ? QString() : base.path() + "/link"), remover.first);
        QDir::setCurrent(saved);
        QVERIFY(QFileInfo::exists(elsewhere + "/sub/precious"));
    }

    void decodeStatus_data()
    {
        QTest::addColumn<QString>("command"); // run through the shell; empty: no shell started
        QTest::addColumn<int>("raw");
        QTest::addColumn<int>("repairing"); // isExecSuccess, UpdateThread::isExecSuccess
        QTest::addColumn<int>("plain");     // decodeExecStatus, ClientThread::isThreadExecSuccess
        QTest::newRow("exit 0") << "true" << 0 << 0 << 0;
        QTest::newRow("exit 1 repairs") << "exit 1" << 256 << 2 << -1;
        QTest::newRow("exit 2") << "exit 2" << 512 << -1 << -1;
        QTest::newRow("killed by signal 9") << "kill -9 $$" << 9 << -1 << -1;
        QTest::newRow("no shell") << QString() << -1 << -1 << -1;
    }
    void decodeStatus()
    {
        QFETCH(QString, command);
        QFETCH(int, raw);
        QFETCH(int, repairing);
        QFETCH(int, plain);
        const int status = command.isEmpty() ? -1 : runShell(command);
        QCOMPARE(status, raw);

        QVERIFY(m_sandbox->install(package("cv-player", "3.2", "4")));
        const QString stale = Paths::rpmDatabaseDirectory() + "/__db.001";
        const std::pair<const char *, std::function<int(int)>> decoders[] = {
            {"isExecSuccess", [](int s) { return isExecSuccess(s); }},
            {"UpdateThread", [](int s) { return UpdateThread().isExecSuccess(s); }},
            {"decodeExecStatus", [](int s) { return decodeExecStatus(s); }},
            {"ClientThread",
             [](int s) { return ClientThread(QString(), 0).isThreadExecSuccess(s); }},
        };
        for (int i = 0; i < 4; ++i) {
            QVERIFY(writeFile(stale));
            const int expected = i < 2 ? repairing : plain;
            QVERIFY2(decoders[i].second(status) == expected, decoders[i].first);
            // Only a repair removes the stale environment files, and the database survives it.
            QVERIFY2(QFileInfo::exists(stale) == (expected != 2), decoders[i].first);
            QCOMPARE(m_sandbox->installedPackages(), QStringList{"cv-player-3.2-4.x86_64"});
        }
    }

    void updateThreadCleansCache()
    {
        const QString cache = m_sandbox->path("/var/cache/dnf");
        const ProcessResult made = ProcessRunner::shell("yum makecache");
        QVERIFY2(made.exitCode == 0, qPrintable(made.output));
        // The repository's metadata; dnf keeps the emptied directories and its own state file.
        const auto cached = [&] {
            QStringList files;
            QDirIterator it(cache, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                if (it.next().endsWith(".xml") || it.filePath().contains(".solv") ||
                    it.filePath().contains("/repodata/"))
                    files << it.fileName();
            return files;
        };
        QVERIFY(!cached().isEmpty());

        UpdateThread thread;
        QSignalSpy ended(&thread, &UpdateThread::updateEnd);
        thread.start();
        QVERIFY(thread.wait());
        QVERIFY2(cached().isEmpty(), qPrintable(cached().join(' ')));
        QCoreApplication::processEvents();
        QCOMPARE(ended.count(), 0);
    }

    void download_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("flag");
        QTest::newRow("fresh") << "cv-hello-1.1-1" << false << 0
                               << QStringList{"cv-hello-1.1-1.x86_64.rpm"} << 0;
        QTest::newRow("existing directory")
            << "cv-editor-2.1-1" << true << 0
            << QStringList{"cv-editor-2.1-1.x86_64.rpm", "earlier"} << 0;
        QTest::newRow("not in repository")
            << "cv-missing-1.0-1" << true << -1 << QStringList{} << 1;
    }
    void download()
    {
        QFETCH(QString, key);
        QFETCH(bool, existing);
        QFETCH(int, expected);
        QFETCH(QStringList, files);
        QFETCH(int, flag);
        const QString directory = m_packages + '/' + key;
        if (existing) {
            QVERIFY(QDir().mkpath(directory));
            QVERIFY(writeFile(directory + "/earlier"));
        }
        ClientThread thread(key, OperationDownload);
        thread.start();
        QVERIFY(thread.wait());
        QCOMPARE(thread.setEndValue(), expected);
        QCOMPARE(thread.downloadFlag(), flag);
        QCOMPARE(QDir(directory).entryList(QDir::Files), files);
        QCOMPARE(QFileInfo::exists(directory), expected == 0);
        QVERIFY(m_sandbox->installedPackages().isEmpty());
    }

    void install_data()
    {
        QTest::addColumn<bool>("downloaded");
        QTest::addColumn<bool>("directory");
        QTest::addColumn<int>("expected");
        QTest::newRow("downloaded files") << true << true << 0;
        QTest::newRow("empty directory") << false << true << -1;
        QTest::newRow("no directory") << false << false << -1;
    }
    void install()
    {
        QFETCH(bool, downloaded);
        QFETCH(bool, directory);
        QFETCH(int, expected);
        const QString key = "cv-player-3.2-4";
        const QString dir = m_packages + '/' + key;
        addCatalogRow(key, "0");
        if (directory)
            QVERIFY(QDir().mkpath(dir));
        if (downloaded)
            QCOMPARE(runOperation(key, OperationDownload), 0);

        QCOMPARE(runOperation(key, OperationInstall), expected);
        if (expected == 0) {
            QCOMPARE(m_sandbox->installedPackages(), QStringList{"cv-player-3.2-4.x86_64"});
            QCOMPARE(installedRows(), QStringList{"cv-player|3.2|4"});
            QCOMPARE(signs(), QStringList{key + "|2"});
            QVERIFY(!QFileInfo::exists(dir));
        } else {
            QVERIFY(m_sandbox->installedPackages().isEmpty());
            QVERIFY(installedRows().isEmpty());
            QCOMPARE(signs(), QStringList{key + "|0"});
            QCOMPARE(QFileInfo::exists(dir), directory);
        }
    }

    void quickInstall_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("brokenFile"); // a damaged earlier download lies in the directory
        QTest::addColumn<int>("expected");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("success") << "cv-player-3.2-4" << false << 0
                                 << QStringList{"cv-player-3.2-4.x86_64"} << QStringList{};
        QTest::newRow("not in repository")
            << "cv-missing-1.0-1" << false << -1 << QStringList{} << QStringList{};
        QTest::newRow("rpm fails, download kept")
            << "cv-player-3.2-4" << true << -2 << QStringList{}
            << QStringList{"broken.rpm", "cv-player-3.2-4.x86_64.rpm"};
    }
    void quickInstall()
    {
        QFETCH(QString, key);
        QFETCH(bool, brokenFile);
        QFETCH(int, expected);
        QFETCH(QStringList, installed);
        QFETCH(QStringList, kept);
        const QString dir = m_packages + '/' + key;
        addCatalogRow(key, "0");
        if (brokenFile) {
            QVERIFY(QDir().mkpath(dir));
            QVERIFY(writeFile(dir + "/broken.rpm", "not a package"));
        }
        QCOMPARE(runOperation(key, OperationQuickInstall), expected);
        QCOMPARE(m_sandbox->installedPackages(), installed);
        QCOMPARE(QDir(dir).entryList(QDir::Files), kept);
        QCOMPARE(signs(), QStringList{key + (expected == 0 ? "|2" : "|0")});
        QCOMPARE(installedRows().size(), expected == 0 ? 1 : 0);
    }

    void update_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("before"); // installed version-release
        QTest::addColumn<int>("expected");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("newer version") << "cv-hello-1.1-1"
                                       << "1.0-1" << 0 << QStringList{"cv-hello-1.1-1.x86_64"}
                                       << QStringList{"cv-hello|1.1|1"};
        QTest::newRow("not in repository") << "cv-missing-1.1-1"
                                           << "1.0-1" << -1 << QStringList{"cv-hello-1.0-1.x86_64"}
                                           << QStringList{"cv-hello|1.0|1.x86_64"};
        QTest::newRow("already current, nothing to install")
            << "cv-hello-1.1-1"
            << "1.1-1" << -2 << QStringList{"cv-hello-1.1-1.x86_64"}
            << QStringList{"cv-hello|1.1|1.x86_64"};
    }
    void update()
    {
        QFETCH(QString, key);
        QFETCH(QString, before);
        QFETCH(int, expected);
        QFETCH(QStringList, installed);
        QFETCH(QStringList, rows);
        const QStringList versionRelease = before.split('-');
        QVERIFY(m_sandbox->install(package("cv-hello", versionRelease[0], versionRelease[1])));
        addInstalledRow("cv-hello", versionRelease[0], versionRelease[1] + ".x86_64");
        addCatalogRow(key, "1");
        const QString dir = m_packages + '/' + key;
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(writeFile(dir + "/stale.rpm", "left from an earlier attempt"));

        QCOMPARE(runOperation(key, OperationUpdate), expected);
        QCOMPARE(m_sandbox->installedPackages(), installed);
        QCOMPARE(installedRows(), rows);
        QCOMPARE(signs(), QStringList{key + (expected == 0 ? "|2" : "|1")});
        // Whatever the outcome, the download directory is gone.
        QVERIFY(!QFileInfo::exists(dir));
    }

    void remove_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<int>("expected");
        QTest::newRow("installed") << true << 0;
        QTest::newRow("not installed") << false << -1;
    }
    void remove()
    {
        QFETCH(bool, installed);
        QFETCH(int, expected);
        const QString key = "cv-player-3.2-4";
        if (installed)
            QVERIFY(m_sandbox->install(package("cv-player", "3.2", "4")));
        addInstalledRow("cv-player", "3.2", "4.x86_64");
        addInstalledRow("cv-editor", "2.0", "1.x86_64");
        addCatalogRow(key, "2");

        QCOMPARE(runOperation(key, OperationRemove), expected);
        QVERIFY(m_sandbox->installedPackages().isEmpty());
        if (expected == 0) {
            QCOMPARE(installedRows(), QStringList{"cv-editor|2.0|1.x86_64"});
            QCOMPARE(signs(), QStringList{key + "|0"});
        } else {
            QCOMPARE(installedRows(),
                     (QStringList{"cv-editor|2.0|1.x86_64", "cv-player|3.2|4.x86_64"}));
            QCOMPARE(signs(), QStringList{key + "|2"});
        }
    }

    void unknownOperation_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("0") << 0;
        QTest::newRow("6") << 6;
        QTest::newRow("-1") << -1;
    }
    void unknownOperation()
    {
        QFETCH(int, type);
        QCOMPARE(runOperation("cv-hello-1.1-1", type), -3);
        QVERIFY(QDir(m_packages).isEmpty());
    }

    void hostileKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("type");
        const char *keys[] = {"",        ".",         "..", "../outside-1-1", "sub/dir-1-1",
                              "-rf-1-1", "--help-1-1"};
        for (const char *key : keys)
            for (int type = OperationDownload; type <= OperationRemove; ++type)
                QTest::addRow("%s, operation %d", key, type) << QString::fromLatin1(key) << type;
    }
    void hostileKeys()
    {
        QFETCH(QString, key);
        QFETCH(int, type);
        // Something to lose on either side of the package directory.
        QVERIFY(QDir().mkpath(m_packages + "/keep"));
        QVERIFY(writeFile(m_packages + "/keep/file"));
        QVERIFY(QDir().mkpath(m_packages + "/sub/dir-1-1"));
        QVERIFY(writeFile(m_packages + "/sub/dir-1-1/file"));
        const QString outside = QFileInfo(m_packages).path();
        QVERIFY(writeFile(outside + "/sentinel"));
        QVERIFY(m_sandbox->install(package("cv-player", "3.2", "4")));
        addInstalledRow("cv-player", "3.2", "4.x86_64");
        addCatalogRow(key, "2");

        QCOMPARE(runOperation(key, type), -1);
        QCOMPARE(QDir(m_packages).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{"keep", "sub"}));
        QVERIFY(QFileInfo::exists(m_packages + "/keep/file"));
        QVERIFY(QFileInfo::exists(m_packages + "/sub/dir-1-1/file"));
        QVERIFY(QFileInfo::exists(outside + "/sentinel"));
        QCOMPARE(m_sandbox->installedPackages(), QStringList{"cv-player-3.2-4.x86_64"});
        QCOMPARE(installedRows(), QStringList{"cv-player|3.2|4.x86_64"});
        QCOMPARE(signs(), QStringList{key + "|2"});
    }

    void shellCharactersInKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("type");
        for (const char *key :
             {"cv;touch pwned;x-1-1", "cv$(touch pwned)-1-1", "cv'`touch pwned`'-1-1"})
            for (int type : {int(OperationDownload), int(OperationRemove)})
                QTest::addRow("%s, operation %d", key, type) << QString::fromLatin1(key) << type;
    }
    void shellCharactersInKeys()
    {
        QFETCH(QString, key);
        QFETCH(int, type);
        QTemporaryDir work;
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        const int result = runOperation(key, type);
        QDir::setCurrent(saved);
        QCOMPARE(result, -1);
        QVERIFY(QDir(work.path()).isEmpty());
        QVERIFY(QDir(m_packages).isEmpty());
    }

    // The running check answers on the asking thread, and only while the asker exists.
    void runningCheck_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("askerStays");
        QTest::newRow("running") << true << true;
        QTest::newRow("not running") << false << true;
        QTest::newRow("asker gone before the answer") << true << false;
    }
    void runningCheck()
    {
        QFETCH(bool, running);
        QFETCH(bool, askerStays);
        const QString seconds = QString::number(300000 + getpid());
        QProcess program;
        if (running) {
            program.start("sleep", {seconds});
            QVERIFY(program.waitForStarted());
        }
        auto asker = std::make_unique<QObject>();
        QList<bool> answers;
        QThread *answeredOn = nullptr;
        ProcessProbe::checkRunning(asker.get(), "sleep " + seconds, [&](bool answer) {
            answers << answer;
            answeredOn = QThread::currentThread();
        });
        if (!askerStays)
            asker.reset();
        // Checks answer in order: once a later one has, the first has too.
        QObject witness;
        bool witnessed = false;
        ProcessProbe::checkRunning(&witness, QString(), [&](bool) { witnessed = true; });
        QTRY_VERIFY_WITH_TIMEOUT(witnessed, 30000);
        QCOMPARE(answers, askerStays ? QList<bool>{running} : QList<bool>{});
        if (askerStays)
            QCOMPARE(answeredOn, QThread::currentThread());
        program.kill();
        program.waitForFinished();
    }

private:
    std::unique_ptr<Sandbox> m_sandbox;
    QString m_packages;
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
