#include "queues/getauththread.h"
#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "shellharness.h"
#include "shownnames.h"
#include "tasks/installitem.h"
#include "tests/support/testrepository.h"
#include "widgets/cycloprogress.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

// Uninstalls one at a time and in batches, and what the other pages show after them.
class TestUninstalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
    }

    void singleUninstall_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("removed");
        QTest::newRow("close button") << int(DialogWatcher::CloseButton) << false;
        QTest::newRow("cancel") << int(DialogWatcher::Cancel) << false;
        QTest::newRow("Escape") << int(DialogWatcher::Escape) << false;
        QTest::newRow("window close") << int(DialogWatcher::WindowClose) << false;
        QTest::newRow("OK") << int(DialogWatcher::Ok) << true;
    }

    void singleUninstall()
    {
        QFETCH(int, answer);
        QFETCH(bool, removed);
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startLoaded({ShellHarness::packageEntry("cv-player", "3.2"),
                                            ShellHarness::packageEntry("cv-editor", "2.0"),
                                            ShellHarness::packageEntry("cv-hello", "1.0")},
                                           {TestRepository::standardPackage("cv-player", "3.2"),
                                            TestRepository::standardPackage("cv-editor", "2.0")});
        QVERIFY(window);
        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
        auto *info = window->findChild<QLabel *>(QStringLiteral("label_delete_info"));
        QCOMPARE(info->text(), QStringLiteral("总共2款软件可卸载"));
        QTableWidget *table = h.uninstallTable();
        QCOMPARE(table->rowCount(), 2);
        // Built out of sight, shown once built.
        QVERIFY(table->isVisible());

        QSignalSpy results(window->uninstallWorker(), &GetAuthThread::uninstallExecEnd);
        h.dialogs().queue(DialogWatcher::Answer(answer));
        InstallItem *item = h.controllerOf(table, Player);
        item->operationButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs().messages(),
                                  QStringList{QStringLiteral("确定要卸载吗？")}, 60000);
        if (!removed) {
            QCOMPARE(h.cell(table, h.rowOf(table, Player), PackageTable::ColumnState),
                     QStringLiteral("0"));
            QVERIFY(!item->operationButton()->isHidden());
            QVERIFY(item->cycloProgress()->isHidden());
            QCOMPARE(results.count(), 0);
            QVERIFY(h.sandbox().isInstalled("cv-player-3.2-4"));
            QCOMPARE(info->text(), QStringLiteral("总共2款软件可卸载"));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QCOMPARE(results.first().at(1).toInt(), 0);
        QTRY_COMPARE(h.rowOf(table, Player), -1);
        QVERIFY(!h.sandbox().isInstalled("cv-player-3.2-4"));
        QVERIFY(h.sandbox().isInstalled("cv-editor-2.0-1"));
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(info->text(), QStringLiteral("总共1款软件可卸载"));
        // Its catalog row offers the package again.
        InstallItem *catalogRow = h.controllerOf(h.catalogTable(), Player);
        QVERIFY(!catalogRow->getOperSign());
        QCOMPARE(h.dialogs().messages().size(), 1);
    }

    void batchUninstall_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("removed");
        QTest::newRow("OK") << int(DialogWatcher::Ok) << true;
        QTest::newRow("close button") << int(DialogWatcher::CloseButton) << false;
        QTest::newRow("Escape") << int(DialogWatcher::Escape) << false;
        QTest::newRow("window close") << int(DialogWatcher::WindowClose) << false;
    }

    void batchUninstall()
    {
        QFETCH(int, answer);
        QFETCH(bool, removed);
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startOnUninstallPage();
        QVERIFY(window);
        QTableWidget *table = h.uninstallTable();
        QCOMPARE(table->rowCount(), 3);
        auto *uninstallSelected =
            window->findChild<QPushButton *>(QStringLiteral("btn_delete_soft"));
        uninstallSelected->click();
        QCOMPARE(h.dialogs().messages(), QStringList{QStringLiteral("请选择卸载的软件！")});

        window->findChild<QCheckBox *>(QStringLiteral("checkBox_delete"))->click();
        for (int row = 0; row < table->rowCount(); ++row)
            QVERIFY(PackageTable::isChecked(table, row));
        h.dialogs().clear();
        h.dialogs().queue(DialogWatcher::Answer(answer));
        uninstallSelected->click();
        const QString question = QStringLiteral("确定要卸载所有已勾选软件吗？");
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs().messages(), QStringList{question}, 60000);
        if (!removed) {
            QCOMPARE(h.sandbox().installedPackages().size(), 4);
            QCOMPARE(table->rowCount(), 3);
            // Nothing is left running: the next press asks again.
            h.dialogs().queue(DialogWatcher::CloseButton);
            uninstallSelected->click();
            QTRY_COMPARE_WITH_TIMEOUT(h.dialogs().messages(), (QStringList{question, question}),
                                      60000);
            return;
        }
        // One question for the whole batch, none per package.
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 0, 240000);
        QCOMPARE(h.sandbox().installedPackages(), QStringList{"cv-base-1.0-1.x86_64"});
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("label_delete_info"))->text(),
                 QStringLiteral("总共0款软件可卸载"));
        QCOMPARE(h.dialogs().messages(), QStringList{question});
    }

    void batchOfSomeRowsEndsPartlyChecked()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startOnUninstallPage();
        QVERIFY(window);
        QTableWidget *table = h.uninstallTable();
        auto *selectAll = window->findChild<QCheckBox *>(QStringLiteral("checkBox_delete"));
        for (const QString &name : {Hello, Editor})
            PackageTable::setCheckItem(table, h.rowOf(table, name), true);
        QCOMPARE(selectAll->checkState(), Qt::PartiallyChecked);
        window->findChild<QPushButton *>(QStringLiteral("btn_delete_soft"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, 240000);
        // Taken from the rows while the batch's last one was still among them.
        QCOMPARE(selectAll->checkState(), Qt::PartiallyChecked);
        QVERIFY(h.sandbox().isInstalled("cv-player-3.2-4"));
    }

    void uninstallWithoutACatalogRowYet()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        // Past the first sixteen rows, alone in its category.
        QVector<CatalogEntry> catalog = generatedCatalog(20, [](int) { return 1; });
        catalog << ShellHarness::packageEntry("cv-player", "3.2", "6");
        MainWindow *window =
            h.startLoaded(catalog, {TestRepository::standardPackage("cv-player", "3.2")});
        QVERIFY(window);
        QCOMPARE(h.rowOf(h.catalogTable(), Player), -1);
        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
        QSignalSpy results(window->uninstallWorker(), &GetAuthThread::uninstallExecEnd);
        h.controllerOf(h.uninstallTable(), Player)->operationButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QTRY_COMPARE(h.rowOf(h.uninstallTable(), Player), -1);

        // Its row, made after the uninstall, offers it for installing.
        window->findChild<QPushButton *>(QStringLiteral("btn_allPackage"))->click();
        auto *list = window->findChild<QListWidget *>(QStringLiteral("listWidget"));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(6)).center());
        InstallItem *row = h.controllerOf(h.catalogTable(), Player);
        QVERIFY(row);
        QVERIFY(!row->getOperSign());
    }

    void uninstallingAnUpgradablePackage_data()
    {
        QTest::addColumn<bool>("upgradeShown"); // while the uninstall runs, else its own page
        QTest::newRow("uninstall page shown") << false;
        QTest::newRow("upgrade page shown") << true;
    }

    void uninstallingAnUpgradablePackage()
    {
        QFETCH(bool, upgradeShown);
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startLoaded({ShellHarness::packageEntry("cv-hello", "1.1"),
                                            ShellHarness::packageEntry("cv-editor", "2.1")},
                                           {TestRepository::standardPackage("cv-hello", "1.0"),
                                            TestRepository::standardPackage("cv-editor", "2.0")});
        QVERIFY(window);
        auto *badge = window->findChild<QPushButton *>(QStringLiteral("btn_num"));
        QCOMPARE(badge->text(), QStringLiteral("2"));
        window->findChild<QPushButton *>(QStringLiteral("btn_packageUpdate"))->click();
        QCOMPARE(h.visibleRows(h.catalogTable()).size(), 2);

        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
        QSignalSpy results(window->uninstallWorker(), &GetAuthThread::uninstallExecEnd);
        h.controllerOf(h.uninstallTable(), Hello)->operationButton()->click();
        // The removal check and the question come first: nothing is removed before the view
        // is shown.
        if (upgradeShown) {
            window->findChild<QPushButton *>(QStringLiteral("btn_packageUpdate"))->click();
            QCOMPARE(h.visibleRows(h.catalogTable()).size(), 2);
        }
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QTRY_COMPARE(badge->text(), QStringLiteral("1"));
        QVERIFY(!badge->isHidden());
        // The shown view loses the row as the result comes, not only when entered again.
        if (upgradeShown) {
            QTRY_COMPARE(h.visibleRows(h.catalogTable()).size(), 1);
            QCOMPARE(window->findChild<QLabel *>(QStringLiteral("label_update_info"))->text(),
                     QStringLiteral("     总共1款软件可更新"));
        }

        window->findChild<QPushButton *>(QStringLiteral("btn_packageUpdate"))->click();
        const QVector<int> rows = h.visibleRows(h.catalogTable());
        QCOMPARE(rows.size(), 1);
        QCOMPARE(h.cell(h.catalogTable(), rows.first(), PackageTable::ColumnDisplayName), Editor);
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("label_update_info"))->text(),
                 QStringLiteral("     总共1款软件可更新"));
    }
};

QObject *createUninstallTests()
{
    return new TestUninstalls;
}

#include "tst_uninstalls.moc"
