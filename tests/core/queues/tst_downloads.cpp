#include "queues/downloadthread.h"
#include "queues/quitinstallthread.h"
#include "queues/updaterpmthread.h"

#include "queuetasks.h"
#include "resultrecorder.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/storerows.h"
#include "tests/support/testrepository.h"
#include "toolbox.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <memory>

// The download phase of the workers: retries, cancels, the queue, and what follows it.
class TestDownloads : public QObject
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
        m_hostPackages = hostPackages();
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

    void cleanupTestCase() { QCOMPARE(hostPackages(), m_hostPackages); }

private:
    std::unique_ptr<TestRepository> m_foo;
    QString m_hostPackages;
};

QObject *createDownloadTests()
{
    return new TestDownloads;
}

#include "tst_downloads.moc"
