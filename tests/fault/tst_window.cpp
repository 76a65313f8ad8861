#include "facade/clientdemon.h"
#include "pwnedfiles.h"
#include "queues/getauththread.h"
#include "queues/quitinstallthread.h"
#include "records/paths.h"
#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "standarderrorcapture.h"
#include "tasks/combobox.h"
#include "tasks/installitem.h"
#include "tasks/items.h"
#include "tasks/loaddialog.h"
#include "tests/app/shell/shellharness.h"
#include "tests/app/shell/yumcontrol.h"
#include "tests/support/databaselock.h"
#include "tests/support/httpserver.h"
#include "tests/support/stallwatch.h"
#include "tests/support/testrepository.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace
{

const int Long = 180000;

// Shell text that leaves a file named pwned<n> in the root when a shell ever runs it.
QString hostile(const QString &root, int n)
{
    return QStringLiteral("x$(touch %1/pwned%2a)`touch %1/pwned%2b`';touch %1/pwned%2c;'")
        .arg(root)
        .arg(n);
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
    }

    // The running check before an uninstall looks for the catalog's launch command among the
    // processes; a command that is shell text must be looked for, not run.
    void hostileLaunchCommandOnUninstall()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        QVERIFY(h.sandbox().install(TestRepository::standardPackage("cv-player", "3.2")));
        MainWindow *window = h.start();
        CatalogEntry player = ShellHarness::packageEntry("cv-player", "3.2");
        player.exec = hostile(h.sandbox().root(), 1);
        QVERIFY(h.load({player, ShellHarness::packageEntry("cv-hello", "1.0")}));
        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
        QTableWidget *table = h.uninstallTable();
        InstallItem *item = h.controllerOf(table, player.name);
        QVERIFY(item);

        QSignalSpy results(window->uninstallWorker(), &GetAuthThread::uninstallExecEnd);
        h.dialogs().queue(DialogWatcher::Ok);
        item->operationButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, Long);
        QCOMPARE(results.first().at(1).toInt(), 0);
        QVERIFY(!h.sandbox().installedPackages().contains("cv-player-3.2-4.x86_64"));
        QCOMPARE(pwnedFiles(h.sandbox().root()), QStringList());
    }

    // A catalog row whose short name and package string are shell text: a one-click install
    // from the row fails with -1 and runs none of it.
    void hostileRowOneClickInstall()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.start();
        CatalogEntry entry = ShellHarness::packageEntry("cv-hello", "1.0");
        entry.icon = hostile(h.sandbox().root(), 2);
        entry.rpm = hostile(h.sandbox().root(), 3) + QStringLiteral("-1.0-1");
        entry.exec = hostile(h.sandbox().root(), 4);
        QVERIFY(h.load({entry, ShellHarness::packageEntry("cv-editor", "2.0")}));
        InstallItem *item = h.controllerOf(h.catalogTable(), entry.name);
        QVERIFY(item);
        const QStringList packagesBefore = h.sandbox().installedPackages();

        QSignalSpy results(window->quickInstallWorker(), &QuitInstallThread::quickinstallExecEnd);
        ShellHarness::choose(item, ShellHarness::QuickInstallEntry);
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, Long);
        QCOMPARE(results.first().at(1).toInt(), -1);
        QTRY_VERIFY_WITH_TIMEOUT(!h.dialogs().messages().isEmpty(), Long);
        // The row gets its one-click install back: no longer marked busy.
        QTRY_COMPARE_WITH_TIMEOUT(h.cell(h.catalogTable(), h.rowOf(h.catalogTable(), entry.name),
                                         PackageTable::ColumnState),
                                  QStringLiteral("0"), Long);
        QCOMPARE(h.sandbox().installedPackages(), packagesBefore);
        QCOMPARE(pwnedFiles(h.sandbox().root()), QStringList());
    }
    void unreachableCatalogKeepsWindowResponsive_data()
    {
        QTest::addColumn<bool>("fromServer");
        QTest::addColumn<bool>("httpUp");
        // The sandbox's catalog server address has no receiver.
        QTest::newRow("catalog server down") << true << false;
        QTest::newRow("HTTP server down") << false << false;
        QTest::newRow("catalog file missing (404)") << false << true;
    }

    // No catalog arrives: the window keeps its loading animation without freezing, and takes
    // the catalog in once it comes; icons that cannot be fetched leave the rows in place.
    void unreachableCatalogKeepsWindowResponsive()
    {
        QFETCH(bool, fromServer);
        QFETCH(bool, httpUp);
        ShellHarness h;
        QVERIFY(h.isValid());
        QTemporaryDir served;
        std::unique_ptr<HttpServer> http(new HttpServer(served.path()));
        QVERIFY(http->isRunning());
        h.sandbox().setConfig(QStringLiteral("iconurl"), http->url().chopped(1));
        if (!httpUp)
            http->stop();
        h.sandbox().setConfig(QStringLiteral("vqssend"),
                              fromServer ? QStringLiteral("true") : QStringLiteral("false"));
        MainWindow *window = h.start();
        StallWatch watch;
        // Well past the one-second delay of the catalog request and its failure.
        QTest::qWait(4000);
        QVERIFY(window->isLoading());
        QVERIFY(!QFileInfo(Paths::catalogDataFile()).size());

        QVERIFY(h.load({ShellHarness::packageEntry("cv-hello", "1.0"),
                        ShellHarness::packageEntry("cv-editor", "2.0")}));
        QCOMPARE(h.catalogTable()->rowCount(), 2);
        QVERIFY(watch.responsive());
    }

    // Another program holds the catalog database while a push arrives, until the store gives
    // the push up: the receiver waits for it on its own thread, and the window answers
    // meanwhile.
    void lockedDatabaseKeepsWindowResponsive()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        QVERIFY(h.startLoaded({ShellHarness::packageEntry("cv-hello", "1.0")}));
        StallWatch watch;
        {
            DatabaseLock lock(Paths::catalogDatabase());
            QVERIFY(lock.isLocked());
            const StandardErrorCapture errors;
            h.postFrame(catalogFrame(QStringLiteral("data_add_push"),
                                     {ShellHarness::packageEntry("cv-editor", "2.0")}));
            // Held until the receiver has met the lock and given the push up.
            QTRY_VERIFY_WITH_TIMEOUT(!errors.lines().filter("database is locked").isEmpty(),
                                     120000);
            QVERIFY(watch.responsive());
        }
        QVERIFY(h.sendFrame(catalogFrame(QStringLiteral("data_add_push"),
                                         {ShellHarness::packageEntry("cv-player", "3.2")})));
        // The push met by the lock is lost whole, as from the catalog server's side it is
        // one of many; the next one is stored.
        QStringList names;
        for (const RpmData &record :
             h.window()->clientDemon()->selectSoftware(0, QString(), QString()))
            names << record.m_name;
        names.sort();
        QCOMPARE(names, QStringList({"你好世界", "影音播放器"}));
    }

    // yum dies from a signal in the middle of a download from a row, both times the download is
    // tried: the row polls its progress throughout without freezing the window and ends
    // with the download failed.
    void killedYumKeepsWindowResponsive()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        YumControl &yum = h.yum();
        MainWindow *window = h.startLoaded({ShellHarness::packageEntry("cv-hello", "1.0")});
        QVERIFY(window);
        QTableWidget *table = h.catalogTable();
        const int row = h.rowOf(table, QStringLiteral("你好世界"));
        yum.hold(true);
        StallWatch watch;
        InstallItem *item = h.controllerOf(table, QStringLiteral("你好世界"));
        ShellHarness::choose(item, ShellHarness::DownloadEntry);
        for (int attempt = 1; attempt <= 2; ++attempt) {
            QTRY_COMPARE_WITH_TIMEOUT(yum.waiting(), 1, Long);
            QCOMPARE(yum.killWaiting(), 1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(h.cell(table, row, PackageTable::ColumnState),
                                  QStringLiteral("0"), Long);
        // Both tries of the download, with the repair between them.
        QCOMPARE(yum.calls().filter(QStringLiteral("--downloadonly")).size(), 2);
        QCOMPARE(window->downloadManager()->itemOf(QStringLiteral("cv-hello"))->state(),
                 QStringLiteral("下载失败"));
        QVERIFY(
            !QFileInfo::exists(h.sandbox().packageDirectory() + QStringLiteral("/cv-hello-1.0-1")));
        QVERIFY(watch.responsive());
    }
};

QTEST_MAIN(TestWindow)

#include "tst_window.moc"
