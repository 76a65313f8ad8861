#include "facade/clientdemon.h"
#include "queues/downloadthread.h"
#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "shellharness.h"
#include "shownnames.h"
#include "tasks/combobox.h"
#include "tasks/installitem.h"
#include "tasks/items.h"
#include "tasks/loaddialog.h"
#include "tests/support/testrepository.h"
#include "ui_items.h"
#include "ui_loaddialog.h"
#include "yumcontrol.h"

#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

// Downloads from the catalog rows, installs after them, and their cancels and repeats.
class TestDownloads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
    }

    void oneClickInstall()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startLoaded({ShellHarness::packageEntry("cv-hello", "1.0"),
                                            ShellHarness::packageEntry("cv-editor", "2.0")});
        QVERIFY(window);
        YumControl &yum = h.yum();
        yum.hold(true);
        QTableWidget *table = h.catalogTable();
        const int row = h.rowOf(table, Hello);
        ShellHarness::choose(h.controllerOf(table, Hello), ShellHarness::QuickInstallEntry);
        QCOMPARE(h.cell(table, row, PackageTable::ColumnState), QStringLiteral("1"));
        Items *entry = window->downloadManager()->itemOf(QStringLiteral("cv-hello"));
        QVERIFY(entry);
        QCOMPARE(entry->state(), QStringLiteral("正在下载"));
        QTRY_VERIFY_WITH_TIMEOUT(yum.waiting() == 1, 60000);
        QCOMPARE(h.cell(table, row, PackageTable::ColumnState), QStringLiteral("1"));

        yum.hold(false);
        QTRY_VERIFY_WITH_TIMEOUT(h.sandbox().isInstalled("cv-hello-1.0-1") &&
                                     h.cell(table, row, PackageTable::ColumnState) == "0",
                                 120000);
        InstallItem *item = window->controllerAt(table, row);
        QVERIFY(item->getOperSign());
        QCOMPARE(item->operationButton()->text(), QStringLiteral("打开软件"));
        QVERIFY(h.dialogs().messages().isEmpty());
        QCOMPARE(window->downloadManager()->itemOf(QStringLiteral("cv-hello"))->state(),
                 QStringLiteral("安装成功"));

        // It is at the bottom of the uninstall table, and the catalog knows it as installed.
        QTableWidget *uninstall = h.uninstallTable();
        QVERIFY(uninstall->rowCount() >= 1);
        QCOMPARE(h.cell(uninstall, uninstall->rowCount() - 1, PackageTable::ColumnDisplayName),
                 Hello);
        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
        QCOMPARE(h.visibleRows(uninstall).size(), 1);
        QCOMPARE(
            h.cell(uninstall, h.visibleRows(uninstall).first(), PackageTable::ColumnDisplayName),
            Hello);
    }

    void downloadThenInstallFromTheSameRow()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startLoaded({ShellHarness::packageEntry("cv-hello", "1.0")});
        QVERIFY(window);
        QTableWidget *table = h.catalogTable();
        const int row = h.rowOf(table, Hello);
        ShellHarness::choose(h.controllerOf(table, Hello), ShellHarness::DownloadEntry);
        QTRY_VERIFY_WITH_TIMEOUT(h.cell(table, row, PackageTable::ColumnState) == "0", 120000);
        InstallItem *item = window->controllerAt(table, row);
        QCOMPARE(item->operationButton()->text(), QStringLiteral("安装"));
        QVERIFY(!h.sandbox().isInstalled("cv-hello-1.0-1"));
        QVERIFY(QFile::exists(h.sandbox().packageDirectory() +
                              "/cv-hello-1.0-1/cv-hello-1.0-1.x86_64.rpm"));
        QCOMPARE(window->downloadManager()->itemOf("cv-hello")->state(),
                 QStringLiteral("下载成功"));

        item->operationButton()->click();
        QCOMPARE(h.cell(table, row, PackageTable::ColumnState), QStringLiteral("1"));
        QTRY_VERIFY_WITH_TIMEOUT(h.cell(table, row, PackageTable::ColumnState) == "0", 120000);
        QVERIFY(h.sandbox().isInstalled("cv-hello-1.0-1"));
        QCOMPARE(window->controllerAt(table, row)->operationButton()->text(),
                 QStringLiteral("打开软件"));
        // No longer a download waiting to be installed: the pages see it installed.
        const QVector<RpmData> records =
            window->clientDemon()->selectSoftware(0, QString(), QString());
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().m_state, 2);
        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
        QCOMPARE(h.visibleRows(h.uninstallTable()).size(), 1);
    }

    void cancellingDownloads()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startLoaded({ShellHarness::packageEntry("cv-hello", "1.0"),
                                            ShellHarness::packageEntry("cv-editor", "2.0"),
                                            ShellHarness::packageEntry("cv-player", "3.2")});
        QVERIFY(window);
        QTableWidget *table = h.catalogTable();
        LoadDialog *manager = window->downloadManager();
        YumControl &yum = h.yum();
        yum.hold(true);
        QSignalSpy results(window->downloadWorker(), &DownloadThread::downloadExecEnd);

        ShellHarness::choose(h.controllerOf(table, Hello), ShellHarness::DownloadEntry);
        QTRY_VERIFY_WITH_TIMEOUT(yum.waiting() == 1, 60000);
        // Queued behind the running one.
        ShellHarness::choose(h.controllerOf(table, Editor), ShellHarness::DownloadEntry);
        QVERIFY(manager->itemOf("cv-hello") && manager->itemOf("cv-editor"));

        h.controllerOf(table, Editor)->cancelButton()->click();
        QVERIFY(!manager->itemOf("cv-editor"));
        h.controllerOf(table, Hello)->cancelButton()->click();
        QVERIFY(!manager->itemOf("cv-hello"));

        // Whatever the stopped download ends with, nothing is reported and nothing re-listed.
        yum.hold(false);
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QCOMPARE(results.first().at(3).toString(), QStringLiteral("cv-hello"));
        QTRY_COMPARE(h.cell(table, h.rowOf(table, Hello), PackageTable::ColumnState),
                     QStringLiteral("0"));
        QVERIFY(h.dialogs().messages().isEmpty());
        QVERIFY(!manager->itemOf("cv-hello"));

        // The cancelled queued task never runs: the next download follows at once.
        ShellHarness::choose(h.controllerOf(table, Player), ShellHarness::DownloadEntry);
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 2, 120000);
        QCOMPARE(results.at(1).at(3).toString(), QStringLiteral("cv-player"));
        QTRY_COMPARE(h.cell(table, h.rowOf(table, Player), PackageTable::ColumnState),
                     QStringLiteral("0"));
        for (const QString &call : yum.calls())
            QVERIFY2(!call.contains(QLatin1String("cv-editor")), qPrintable(call));
        QVERIFY(h.dialogs().messages().isEmpty());
        QVERIFY(!manager->itemOf("cv-hello"));

        // Cancelled while queued and asked for again at once, the download runs to its end:
        // the cancel kills only what its own task started.
        yum.hold(true);
        ShellHarness::choose(h.controllerOf(table, Hello), ShellHarness::DownloadEntry);
        QTRY_VERIFY_WITH_TIMEOUT(yum.waiting() == 1, 60000);
        ShellHarness::choose(h.controllerOf(table, Editor), ShellHarness::DownloadEntry);
        h.controllerOf(table, Editor)->cancelButton()->click();
        ShellHarness::choose(h.controllerOf(table, Editor), ShellHarness::DownloadEntry);
        yum.hold(false);
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 4, 120000);
        QCOMPARE(results.at(3).at(3).toString(), QStringLiteral("cv-editor"));
        QCOMPARE(results.at(3).at(1).toInt(), 0);
    }

    void downloadAgainAfterAFailure()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startLoaded({ShellHarness::packageEntry("cv-hello", "1.0")});
        QVERIFY(window);
        QTableWidget *table = h.catalogTable();
        LoadDialog *manager = window->downloadManager();
        YumControl &yum = h.yum();
        yum.fail(true);
        QSignalSpy results(window->downloadWorker(), &DownloadThread::downloadExecEnd);
        ShellHarness::choose(h.controllerOf(table, Hello), ShellHarness::DownloadEntry);
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QTRY_COMPARE(h.dialogs().messages(), QStringList{QStringLiteral("下载软件失败！")});
        Items *entry = manager->itemOf("cv-hello");
        QVERIFY(entry);
        QCOMPARE(entry->state(), QStringLiteral("下载失败"));
        QCOMPARE(entry->ui->pushButton_reload->text(), QStringLiteral("重新下载"));

        yum.fail(false);
        entry->ui->pushButton_reload->click();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 2, 120000);
        QCOMPARE(results.at(1).at(1).toInt(), 0);
        QTRY_COMPARE(h.cell(table, h.rowOf(table, Hello), PackageTable::ColumnState),
                     QStringLiteral("0"));
        QCOMPARE(manager->ui->tableWidget_load->rowCount(), 1);
        QCOMPARE(manager->itemOf("cv-hello")->state(), QStringLiteral("下载成功"));
        QCOMPARE(h.controllerOf(table, Hello)->operationButton()->text(), QStringLiteral("安装"));
        QCOMPARE(h.dialogs().messages().size(), 1);
    }
};

QObject *createDownloadTests()
{
    return new TestDownloads;
}

#include "tst_downloads.moc"
