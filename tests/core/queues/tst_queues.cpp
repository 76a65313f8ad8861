#include "queues/getauththread.h"
#include "queues/installrpmthread.h"
#include "records/operationword.h"
#include "records/paths.h"
#include "sync/reportframe.h"
#include "sync/reportoutbox.h"

#include "queuetasks.h"
#include "resultrecorder.h"
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

namespace
{

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

} // namespace

// Installs and uninstalls, what they report, and the values they refuse.
class TestQueues : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
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
        // Past the store the operation travels by key.
        QCOMPARE(result.result().oper, OperationWord::key(*OperationWord::parse(info(kind).word)));
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
    std::unique_ptr<TestRepository> m_report;
    QString m_hostPackages;
};

QObject *createQueueTests()
{
    return new TestQueues;
}

#include "tst_queues.moc"
