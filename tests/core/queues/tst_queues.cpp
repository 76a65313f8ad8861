#include "queues/downloadthread.h"
#include "queues/getauththread.h"
#include "queues/installrpmthread.h"
#include "queues/quitinstallthread.h"
#include "queues/updaterpmthread.h"
#include "records/paths.h"
#include "sync/reportframe.h"
#include "sync/reportoutbox.h"

#include "resultrecorder.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/storerows.h"
#include "tests/support/testrepository.h"
#include "toolbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <memory>

enum class Kind { Uninstall, Install, QuickInstall, Download, Upgrade };
Q_DECLARE_METATYPE(Kind)

namespace
{

const int Long = 120000;

struct KindInfo {
    Kind kind;
    const char *name;
    QString word;
    QString finalSignal;
    int failure;
};

const QVector<KindInfo> &kinds()
{
    static const QVector<KindInfo> all = {
        {Kind::Uninstall, "uninstall", "卸载", "uninstallExecEnd", -1},
        {Kind::Install, "install", "安装", "installExecEnd", -2},
        {Kind::QuickInstall, "one-click install", "一键安装", "quickinstallExecEnd", -1},
        {Kind::Download, "download", "下载", "downloadExecEnd", -1},
        {Kind::Upgrade, "upgrade", "升级", "updateRpmExecEnd", -1},
    };
    return all;
}

const KindInfo &info(Kind kind)
{
    for (const KindInfo &entry : kinds())
        if (entry.kind == kind)
            return entry;
    return kinds().first();
}

WorkerPtr makeWorker(Kind kind, ResultRecorder &recorder)
{
    switch (kind) {
    case Kind::Uninstall:
        return watched<GetAuthThread>(recorder);
    case Kind::Install:
        return watched<InstallRpmThread>(recorder);
    case Kind::QuickInstall:
        return watched<QuitInstallThread>(recorder);
    case Kind::Download:
        return watched<DownloadThread>(recorder);
    case Kind::Upgrade:
        break;
    }
    return watched<UpdateRpmThread>(recorder);
}

OperInfo task(Kind kind, const QString &rpmname, const QString &key, const QString &echo = "9")
{
    return OperInfo{info(kind).word, echo, rpmname, key};
}

// Ends the worker once its queue ran empty and delivers the results still on their way.
bool finish(WorkerPtr &worker)
{
    worker->stop();
    const bool ended = worker->wait(Long);
    QCoreApplication::processEvents();
    return ended;
}

TestPackage standard(int index)
{
    return TestRepository::standardPackages().at(index);
}

QString downloadDirectory(const Sandbox &sandbox, const QString &rpmname)
{
    return sandbox.packageDirectory() + '/' + rpmname;
}

// What an earlier download leaves for the install worker.
bool placeDownload(const Sandbox &sandbox, const TestPackage &package)
{
    const QString directory = downloadDirectory(sandbox, package.packageString());
    return QDir().mkpath(directory) && QFile::copy(TestRepository::shared().packageFile(package),
                                                   directory + '/' + package.fileName());
}

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

const QString forward = QStringLiteral("exec \"$SHIM\" \"$@\"");

} // namespace

class TestQueues : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        m_foo.reset(new TestRepository(
            {{"foo-bar", "1.2", "3.el7"}, {"foo-bar", "1.3", "1"}, {"foo-bar", "1.3", "2"}}));
        QVERIFY2(m_foo->isValid(), qPrintable(m_foo->errorString()));
        m_report.reset(new TestRepository({{"cv-report", "1.0", "1"},
                                           {"cv-report",
                                            "2.0",
                                            "1",
                                            64,
                                            {},
                                            "x86_64",
                                            {},
                                            "error('cv-report: upgrade refused by policy')"}}));
        QVERIFY2(m_report->isValid(), qPrintable(m_report->errorString()));
        m_hostPackages = hostPackages();
    }

    void resultsGoToTheOutbox_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("rpmname");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("echo"); // a part of the reported text
        QTest::addColumn<QStringList>("inventory");
        QTest::newRow("install") << Kind::QuickInstall << "cv-report-1.0-1" << 0
                                 << "cv-report-1.0-1" << QStringList{"cv-report-1.0-1"};
        QTest::newRow("upgrade whose scriptlet fails")
            << Kind::Upgrade << "cv-report-2.0-1" << -2 << "cv-report: upgrade refused by policy"
            << QStringList{"cv-report-1.0-1"};
        QTest::newRow("uninstall")
            << Kind::Uninstall << "cv-report-1.0-1" << 0 << "" << QStringList();
    }

    // Every task's end is reported with the end of what its commands printed, followed by
    // what is installed now.
    void resultsGoToTheOutbox()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, rpmname);
        QFETCH(int, code);
        QFETCH(QString, echo);
        Sandbox sandbox(m_report.get());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        StoreRows::addCatalogRow(rpmname, "cv-report", kind == Kind::Upgrade ? "1" : "0");
        if (kind != Kind::QuickInstall) {
            QVERIFY(sandbox.install(m_report->packages().first()));
            StoreRows::addInstalledRow("cv-report", "1.0", "1");
        }
        ResultRecorder recorder;
        WorkerPtr worker = makeWorker(kind, recorder);
        worker->insertQueue(task(kind, rpmname, "cv-report"));
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.ended.isEmpty(), Long);
        QVERIFY(finish(worker));

        const QVector<ReportOutbox::Entry> sent = ReportOutbox().pending(10);
        QCOMPARE(sent.size(), 2);
        ReportFrame result, inventory;
        QString error;
        QVERIFY2(result.parse(sent[0].frame, &error), qPrintable(error));
        QVERIFY2(inventory.parse(sent[1].frame, &error), qPrintable(error));
        QCOMPARE(result.result().oper, info(kind).word);
        QCOMPARE(result.result().rpm, rpmname);
        QCOMPARE(result.result().code, code);
        QVERIFY2(result.result().echo.contains(echo), qPrintable(result.result().echo));
        QTEST(inventory.inventory().packages, "inventory");
    }

    void installsOneAfterAnother()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        const TestPackage hello = standard(0), editor = standard(2);
        for (const TestPackage &package : {hello, editor}) {
            QVERIFY(placeDownload(sandbox, package));
            StoreRows::addCatalogRow(package.packageString(), package.name, "0");
        }
        ResultRecorder recorder;
        WorkerPtr worker = watched<InstallRpmThread>(recorder);
        worker->insertQueue(task(Kind::Install, hello.packageString(), "cv-hello", "1"));
        worker->insertQueue(task(Kind::Install, editor.packageString(), "cv-editor", "2"));
        worker->start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 2, Long);
        QVERIFY(finish(worker));

        QCOMPARE(recorder.results, QStringList({"installExecEnd 安装 0 1 cv-hello",
                                                "installExecEnd 安装 0 2 cv-editor"}));
        QCOMPARE(sandbox.installedPackages(),
                 QStringList({editor.packageString(), hello.packageString()}));
        QCOMPARE(StoreRows::installedRows(),
                 QStringList({"cv-hello 1.0 1.x86_64", "cv-editor 2.0 1.x86_64"}));
        for (const TestPackage &package : {hello, editor}) {
            QCOMPARE(StoreRows::sign(package.packageString()), QStringLiteral("2"));
            QVERIFY(!QFileInfo::exists(downloadDirectory(sandbox, package.packageString())));
        }
        QVERIFY(!QFileInfo::exists(Paths::findRpmFile()));
    }

    void failedInstallKeepsDownload_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("installed");
        QTest::newRow("nothing downloaded") << "" << QStringList();
        QTest::newRow("damaged file") << "junk" << QStringList();
        // rpm succeeds, but not with the package the task names.
        QTest::newRow("other version")
            << "cv-hello-1.0-1.x86_64.rpm" << QStringList{"cv-hello-1.0-1.x86_64"};
    }

    void failedInstallKeepsDownload()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, installed);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        const TestPackage wanted = standard(1);
        const QString file =
            downloadDirectory(sandbox, wanted.packageString()) + '/' + wanted.fileName();
        if (source == "junk") {
            QVERIFY(QDir().mkpath(QFileInfo(file).path()));
            QFile junk(file);
            QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("not a package") > 0);
        } else if (!source.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(file).path()));
            QVERIFY(QFile::copy(TestRepository::shared().directory() + '/' + source, file));
        }
        StoreRows::addCatalogRow(wanted.packageString(), wanted.name, "0");

        ResultRecorder recorder;
        WorkerPtr worker = watched<InstallRpmThread>(recorder);
        worker->insertQueue(task(Kind::Install, wanted.packageString(), "cv-hello"));
        worker->start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 1, Long);
        QVERIFY(finish(worker));

        QCOMPARE(recorder.results, QStringList{"installExecEnd 安装 -2 9 cv-hello"});
        QCOMPARE(QFileInfo::exists(file), !source.isEmpty());
        QCOMPARE(sandbox.installedPackages(), installed);
        QVERIFY(StoreRows::installedRows().isEmpty());
        QCOMPARE(StoreRows::sign(wanted.packageString()), QStringLiteral("0"));
    }

    void installWaitsForUninstall()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        const QString release = sandbox.path("/.sandbox/release-erase");
        // rpm -e holds until the test lets it go; both phases note when they run.
        tools.add("rpm",
                  QStringLiteral("case \"$1\" in\n"
                                 "-e) echo erase-start >> \"$EVENTS\"\n"
                                 "  while [ ! -e '%1' ]; do /bin/sleep 0.05; done\n"
                                 "  \"$SHIM\" \"$@\"; s=$?; echo erase-end >> \"$EVENTS\"; "
                                 "exit $s;;\n"
                                 "-U*) echo install-start >> \"$EVENTS\"\n"
                                 "  \"$SHIM\" \"$@\"; s=$?; echo install-end >> \"$EVENTS\"; "
                                 "exit $s;;\n"
                                 "esac\n")
                          .arg(release) +
                      forward);
        const TestPackage hello = standard(0), editor = standard(2);
        QVERIFY(sandbox.install(hello));
        QVERIFY(placeDownload(sandbox, editor));

        ResultRecorder recorder;
        WorkerPtr uninstaller = watched<GetAuthThread>(recorder);
        WorkerPtr installer = watched<InstallRpmThread>(recorder);
        const auto releaseOnExit = qScopeGuard([&] { touch(release); });
        uninstaller->start();
        installer->start();
        uninstaller->insertQueue(task(Kind::Uninstall, hello.packageString(), "cv-hello"));
        QTRY_COMPARE_WITH_TIMEOUT(tools.events(), QStringList{"erase-start"}, Long);
        installer->insertQueue(task(Kind::Install, editor.packageString(), "cv-editor"));
        // Time for an install that did not wait to reach rpm; the order below is what counts.
        QTest::qWait(2000);
        QVERIFY(touch(release));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 2, Long);

        QCOMPARE(tools.events(),
                 QStringList({"erase-start", "erase-end", "install-start", "install-end"}));
        QVERIFY(recorder.results.contains("uninstallExecEnd 卸载 0 9 cv-hello"));
        QVERIFY(recorder.results.contains("installExecEnd 安装 0 9 cv-editor"));
        QCOMPARE(sandbox.installedPackages(), QStringList{editor.packageString()});
    }

    void failingYumRepeatsOnRebuiltDatabase_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("yumCalls");
        QTest::addColumn<QString>("result");
        // Two runs per attempt, the database rebuilt after each.
        QTest::newRow("download") << Kind::Download << 4 << "downloadExecEnd 下载 -1 9 cv-hello";
        QTest::newRow("one-click install")
            << Kind::QuickInstall << 4 << "quickinstallExecEnd 一键安装 -1 9 cv-hello";
        // Two evaluated runs, then one plain attempt.
        QTest::newRow("upgrade") << Kind::Upgrade << 3 << "updateRpmExecEnd 升级 -1 9 cv-hello";
    }

    void failingYumRepeatsOnRebuiltDatabase()
    {
        QFETCH(Kind, kind);
        QFETCH(int, yumCalls);
        QFETCH(QString, result);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        tools.add("yum", "exit 1");
        tools.add("rpm", forward);
        const QString rpmname = standard(0).packageString();

        ResultRecorder recorder;
        WorkerPtr worker = makeWorker(kind, recorder);
        worker->insertQueue(task(kind, rpmname, "cv-hello"));
        worker->start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 1, Long);
        QVERIFY(finish(worker));

        QCOMPARE(recorder.results, QStringList{result});
        QCOMPARE(tools.calls("yum").size(), yumCalls);
        int rebuilds = 0;
        for (const QStringList &call : tools.calls("rpm"))
            rebuilds += call.contains("--rebuilddb");
        // Every exit status 1 is followed by a rebuild except the upgrade's plain attempt.
        QCOMPARE(rebuilds, kind == Kind::Upgrade ? 2 : 4);
        QVERIFY(!QFileInfo::exists(downloadDirectory(sandbox, rpmname)));
    }

    // The cancel path kills the running yum and calls deleteQueue; the killed download must
    // not be fetched after all by the retry.
    void cancelledDownloadIsNotRetried_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("result");
        QTest::newRow("download") << Kind::Download << "downloadExecEnd 下载 -1 9 cv-hello";
        QTest::newRow("one-click install")
            << Kind::QuickInstall << "quickinstallExecEnd 一键安装 -1 9 cv-hello";
        QTest::newRow("upgrade") << Kind::Upgrade << "updateRpmExecEnd 升级 -1 9 cv-hello";
    }

    void cancelledDownloadIsNotRetried()
    {
        QFETCH(Kind, kind);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        const QString pidFile = sandbox.path("/running-yum.pid");
        // The first download hangs until killed; any later one would succeed.
        tools.add("yum",
                  QStringLiteral("if [ ! -e '%1' ]; then echo $$ > '%1'; exec sleep 60; fi\n")
                          .arg(pidFile) +
                      forward);
        tools.add("rpm", forward);

        ResultRecorder recorder;
        WorkerPtr worker = makeWorker(kind, recorder);
        worker->insertQueue(task(kind, standard(0).packageString(), "cv-hello"));
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pidFile).size() > 0, Long);
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray pid = file.readAll().trimmed();
        switch (kind) {
        case Kind::Download:
            static_cast<DownloadThread *>(worker.get())->deleteQueue("cv-hello");
            break;
        case Kind::QuickInstall:
            static_cast<QuitInstallThread *>(worker.get())->deleteQueue("cv-hello");
            break;
        default:
            static_cast<UpdateRpmThread *>(worker.get())->deleteQueue("cv-hello");
            break;
        }
        QCOMPARE(ProcessRunner::run("kill", {"-9", QString::fromLatin1(pid)}).exitCode, 0);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 1, Long);
        QVERIFY(finish(worker));

        QTEST(recorder.results.first(), "result");
        QCOMPARE(tools.calls("yum").size(), 1);
        QVERIFY(sandbox.installedPackages().isEmpty());
    }

    void deleteQueueRemovesFirstMatch_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("deleted");
        QTest::addColumn<QStringList>("ran");
        QTest::newRow("shared key")
            << QStringList{"k", "k", "j"} << QStringList{"k"} << QStringList{"2", "3"};
        QTest::newRow("shared key twice")
            << QStringList{"k", "k", "j"} << QStringList{"k", "k"} << QStringList{"3"};
        QTest::newRow("last") << QStringList{"k", "j"} << QStringList{"j"} << QStringList{"1"};
        QTest::newRow("no match") << QStringList{"k", "j"} << QStringList{"x"}
                                  << QStringList{"1", "2"};
    }

    void deleteQueueRemovesFirstMatch()
    {
        QFETCH(QStringList, keys);
        QFETCH(QStringList, deleted);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        tools.add("yum", "exit 2"); // a quick failure without a database repair

        ResultRecorder recorder;
        auto *download = new DownloadThread;
        recorder.watch(download);
        WorkerPtr worker(download);
        for (int i = 0; i < keys.size(); ++i)
            download->insertQueue(
                task(Kind::Download, "cv-hello-1.0-1.x86_64", keys.at(i), QString::number(i + 1)));
        for (const QString &key : deleted)
            download->deleteQueue(key);
        download->stop(); // the tasks already queued still run
        download->start();
        QVERIFY(finish(worker));

        QStringList ran;
        for (const QString &result : recorder.results)
            ran << result.section(' ', 3, 3);
        QTEST(ran, "ran");
    }

    void uninstall_data()
    {
        QTest::addColumn<QString>("rpmBody");
        QTest::addColumn<bool>("installFirst");
        QTest::addColumn<int>("code");
        QTest::newRow("removed") << "" << true << 0;
        QTest::newRow("removed, rpm reports failure")
            << "case \"$1\" in -e) \"$SHIM\" \"$@\"; exit 3;; esac" << true << 0;
        QTest::newRow("rpm refuses") << "case \"$1\" in -e) exit 3;; esac" << true << -1;
        QTest::newRow("not installed") << "" << false << 0;
    }

    void uninstall()
    {
        QFETCH(QString, rpmBody);
        QFETCH(bool, installFirst);
        QFETCH(int, code);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        tools.add("rpm", rpmBody + '\n' + forward);
        const TestPackage hello = standard(0), editor = standard(2);
        QVERIFY(sandbox.install(editor));
        if (installFirst)
            QVERIFY(sandbox.install(hello));
        // The catalog lists cv-editor as a dependency of cv-hello.
        StoreRows::addCatalogRow(hello.packageString(), hello.name, "2", editor.name);
        StoreRows::addInstalledRow("cv-hello", "1.0", "1.x86_64");
        StoreRows::addInstalledRow("cv-editor", "2.0", "1.x86_64");

        ResultRecorder recorder;
        WorkerPtr worker = watched<GetAuthThread>(recorder);
        worker->insertQueue(task(Kind::Uninstall, hello.packageString(), "cv-hello", "11"));
        worker->start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 1, Long);
        QVERIFY(finish(worker));

        QCOMPARE(recorder.results,
                 QStringList{QStringLiteral("uninstallExecEnd 卸载 %1 11 cv-hello").arg(code)});
        const QStringList installed = sandbox.installedPackages();
        QVERIFY(installed.contains(editor.packageString()));
        QCOMPARE(installed.contains(hello.packageString()), code != 0);
        const QStringList bothRows{"cv-hello 1.0 1.x86_64", "cv-editor 2.0 1.x86_64"};
        QCOMPARE(StoreRows::installedRows(), code == 0 ? QStringList(bothRows.mid(1)) : bothRows);
        QCOMPARE(StoreRows::sign(hello.packageString()), QString(code == 0 ? "0" : "2"));
    }

    void downloadThenInstall_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("rpmname");
        QTest::addColumn<bool>("rpmFails");
        QTest::addColumn<QStringList>("yum"); // the first call's arguments after --downloaddir D
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("sign");
        QTest::addColumn<int>("kept"); // the downloaded file: 1 kept, 0 gone with D, -1 either
        const QString rpm12 = "foo-bar-1.2-3.el7", rpm13 = "foo-bar-1.3-1";
        const QStringList installed12{"foo-bar-1.2-3.el7.x86_64"};
        QTest::newRow("download") << Kind::Download << rpm12 << false
                                  << QStringList{"install", "foo-bar-1.2"}
                                  << QStringList{"downloadExecEnd 下载 0 9 foo-bar"}
                                  << QStringList() << QStringList() << "0" << 1;
        QTest::newRow("one-click install")
            << Kind::QuickInstall << rpm12 << false << QStringList{"install", "foo-bar-1.2"}
            << QStringList{"downloadExecEnd 一键安装 0 9 foo-bar",
                           "quickinstallExecEnd 一键安装 0 9 foo-bar"}
            << installed12 << QStringList{"foo-bar 1.2 3.el7"} << "2" << -1;
        QTest::newRow("one-click install, rpm fails")
            << Kind::QuickInstall << rpm12 << true << QStringList{"install", "foo-bar-1.2"}
            << QStringList{"downloadExecEnd 一键安装 0 9 foo-bar",
                           "quickinstallExecEnd 一键安装 -2 9 foo-bar"}
            << QStringList() << QStringList() << "0" << 1;
        // From 1.2 installed to the catalog's 1.3-1, not to the repository's newer 1.3-2.
        QTest::newRow("upgrade") << Kind::Upgrade << rpm13 << false
                                 << QStringList{"install", "foo-bar-1.3-1"}
                                 << QStringList{"downloadExecEnd 升级 0 9 foo-bar",
                                                "updateRpmExecEnd 升级 0 9 foo-bar"}
                                 << QStringList{"foo-bar-1.3-1.x86_64"}
                                 << QStringList{"foo-bar 1.3 1"} << "2" << 0;
        QTest::newRow("upgrade, rpm fails")
            << Kind::Upgrade << rpm13 << true << QStringList{"install", "foo-bar-1.3-1"}
            << QStringList{"downloadExecEnd 升级 0 9 foo-bar", "updateRpmExecEnd 升级 -2 9 foo-bar"}
            << installed12 << QStringList{"foo-bar 1.2 3.el7.x86_64"} << "1" << 0;
    }

    void downloadThenInstall()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, rpmname);
        QFETCH(bool, rpmFails);
        QFETCH(QStringList, yum);
        QFETCH(QStringList, results);
        QFETCH(int, kept);
        Sandbox sandbox(m_foo.get());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        tools.add("yum", forward);
        tools.add("rpm", (rpmFails ? "case \"$1\" in -U*) exit 2;; esac\n" : "") + forward);
        if (kind == Kind::Upgrade) {
            QVERIFY(sandbox.install(m_foo->packages().first()));
            StoreRows::addInstalledRow("foo-bar", "1.2", "3.el7.x86_64");
        }
        StoreRows::addCatalogRow(rpmname, "foo-bar", kind == Kind::Upgrade ? "1" : "0");

        ResultRecorder recorder;
        WorkerPtr worker = makeWorker(kind, recorder);
        worker->insertQueue(task(kind, rpmname, "foo-bar"));
        worker->start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), results.size(), Long);
        QVERIFY(finish(worker));

        QCOMPARE(recorder.results, results);
        // One common end per task, not for the download phase before it.
        QCOMPARE(recorder.ended, QStringList{results.last().section(' ', 1)});
        const QString directory = downloadDirectory(sandbox, rpmname);
        QCOMPARE(tools.calls("yum").value(0),
                 QStringList({yum.at(0), "--downloadonly", "--downloaddir", directory, yum.at(1)}));
        QTEST(sandbox.installedPackages(), "installed");
        QTEST(StoreRows::installedRows(), "rows");
        QTEST(StoreRows::sign(rpmname), "sign");
        if (kept == 1)
            QVERIFY(QFileInfo::exists(directory + "/foo-bar-1.2-3.el7.x86_64.rpm"));
        else if (kept == 0)
            QVERIFY(!QFileInfo::exists(directory));
    }

    void unsafeValuesRunNothing_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("rpmname");
        QTest::addColumn<QString>("key");
        for (const KindInfo &entry : kinds()) {
            for (const char *value : {"../../x", "a;touch /tmp/pwned", "..", "-rf", ""})
                QTest::addRow("%s %s", entry.name, value) << entry.kind << value << "cv-hello";
            QTest::addRow("%s, key ../x", entry.name) << entry.kind << "cv-hello-1.0-1.x86_64"
                                                      << "../x";
        }
    }

    void unsafeValuesRunNothing()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, rpmname);
        QFETCH(QString, key);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        tools.add("yum", "exit 2");
        tools.add("rpm", "exit 2");
        // What ../../x and ../x would name from the package directory.
        const QStringList canaries{sandbox.path("/var/cache/x/keep"),
                                   sandbox.path("/var/cache/corvane/x/keep")};
        for (const QString &canary : canaries)
            QVERIFY(QDir().mkpath(QFileInfo(canary).path()) && touch(canary));
        const bool pwnedBefore = QFileInfo::exists("/tmp/pwned");

        ResultRecorder recorder;
        WorkerPtr worker = makeWorker(kind, recorder);
        worker->insertQueue(task(kind, rpmname, key));
        worker->start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 1, Long);
        QVERIFY(finish(worker));

        const KindInfo &expected = info(kind);
        QCOMPARE(recorder.results, QStringList{QStringLiteral("%1 %2 %3 9 %4")
                                                   .arg(expected.finalSignal, expected.word)
                                                   .arg(expected.failure)
                                                   .arg(key)});
        QCOMPARE(recorder.ended, QStringList{recorder.results.first().section(' ', 1)});
        QVERIFY(tools.calls("yum").isEmpty());
        QVERIFY(tools.calls("rpm").isEmpty());
        for (const QString &canary : canaries)
            QVERIFY(QFileInfo::exists(canary));
        QCOMPARE(
            QDir(sandbox.packageDirectory()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
            QStringList());
        QCOMPARE(QFileInfo::exists("/tmp/pwned"), pwnedBefore);
    }

    void shellSyntaxStaysOneArgument_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("rpmname");
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments"); // {D}: the download directory
        QTest::newRow("download") << Kind::Download << "x;touch pwned-1-1"
                                  << "yum"
                                  << QStringList{"install", "--downloadonly", "--downloaddir",
                                                 "{D}", "x;touch pwned-1"};
        QTest::newRow("upgrade") << Kind::Upgrade << "it's $(touch pwned)-1-1"
                                 << "yum"
                                 << QStringList{"install", "--downloadonly", "--downloaddir", "{D}",
                                                "it's $(touch pwned)-1-1"};
        QTest::newRow("uninstall") << Kind::Uninstall << "x$(touch pwned)-1-1"
                                   << "rpm" << QStringList{"-e", "x$(touch pwned)", "--nodeps"};
        QTest::newRow("install") << Kind::Install << "x`touch pwned` y-1-1"
                                 << "rpm" << QStringList{"-Uvh", "{D}/*"};
    }

    void shellSyntaxStaysOneArgument()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, rpmname);
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        tools.add("yum", "exit 2");
        tools.add("rpm", "exit 2");
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(sandbox.root()));
        const auto restore = qScopeGuard([&] { QDir::setCurrent(saved); });

        ResultRecorder recorder;
        WorkerPtr worker = makeWorker(kind, recorder);
        worker->insertQueue(task(kind, rpmname, "cv-x"));
        worker->start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 1, Long);
        QVERIFY(finish(worker));

        arguments.replaceInStrings("{D}", downloadDirectory(sandbox, rpmname));
        QCOMPARE(tools.calls(tool).value(0), arguments);
        QVERIFY(!QFileInfo::exists(sandbox.path("/pwned")));
    }

    void cleanupTestCase() { QCOMPARE(hostPackages(), m_hostPackages); }

private:
    static QString hostPackages() { return ProcessRunner::run("/usr/bin/rpm", {"-qa"}).output; }

    std::unique_ptr<TestRepository> m_foo;
    std::unique_ptr<TestRepository> m_report;
    QString m_hostPackages;
};

QTEST_GUILESS_MAIN(TestQueues)
#include "tst_queues.moc"
