#include "facade/clientdemon.h"
#include "queues/updaterpmthread.h"
#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "shellharness.h"
#include "shownnames.h"
#include "tasks/installitem.h"
#include "tasks/items.h"
#include "tasks/loaddialog.h"
#include "tests/support/accountaccess.h"
#include "tests/support/testrepository.h"
#include "ui_items.h"
#include "ui_loaddialog.h"
#include "yumcontrol.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

namespace
{

// The standard packages installed, then a push that offers upgrades of two; null when that
// failed.
MainWindow *startWithTwoUpgrades(ShellHarness &h)
{
    if (!h.isValid())
        return nullptr;
    MainWindow *window = h.startWithStandardInstalled();
    auto *badge = window ? window->findChild<QPushButton *>(QStringLiteral("btn_num")) : nullptr;
    if (!badge || !badge->isHidden())
        return nullptr;
    if (!h.sendFrame(catalogFrame(QStringLiteral("data_update_push"),
                                  {ShellHarness::packageEntry("cv-hello", "1.1"),
                                   ShellHarness::packageEntry("cv-editor", "2.1")})))
        return nullptr;
    return window;
}

} // namespace

// Upgrades, and opening the applications installed.
class TestOperations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
    }

    void upgradeSelectedRows()
    {
        ShellHarness h;
        MainWindow *window = startWithTwoUpgrades(h);
        QVERIFY(window);
        auto *badge = window->findChild<QPushButton *>(QStringLiteral("btn_num"));
        QVERIFY(!badge->isHidden());
        QCOMPARE(badge->text(), QStringLiteral("2"));

        window->findChild<QPushButton *>(QStringLiteral("btn_packageUpdate"))->click();
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("label_update_info"))->text(),
                 QStringLiteral("     总共2款软件可更新"));
        QTableWidget *table = h.catalogTable();
        // A search leaves one row in the view; results the window shows afterwards are the
        // view's rows, so the batch below takes both.
        auto *box = window->findChild<QLineEdit *>(QStringLiteral("lineEdit_search"));
        box->setText(h.cell(table, h.visibleRows(table).first(), PackageTable::ColumnDisplayName));
        window->findChild<QPushButton *>(QStringLiteral("btn_search"))->click();
        QCOMPARE(h.visibleRows(table).size(), 1);
        box->clear();
        window->searchAllTable(window->clientDemon()->selectSoftware(1, QString(), QString()));
        const QVector<int> rows = h.visibleRows(table);
        QCOMPARE(rows.size(), 2);
        auto *selectAll = window->findChild<QCheckBox *>(QStringLiteral("checkBox_update"));
        table->item(rows.at(0), PackageTable::ColumnCheck)->setCheckState(Qt::Checked);
        QCOMPARE(selectAll->checkState(), Qt::PartiallyChecked);
        table->item(rows.at(1), PackageTable::ColumnCheck)->setCheckState(Qt::Checked);
        QCOMPARE(selectAll->checkState(), Qt::Checked);
        table->item(rows.at(0), PackageTable::ColumnCheck)->setCheckState(Qt::Unchecked);
        QCOMPARE(selectAll->checkState(), Qt::PartiallyChecked);
        // A press on the partly checked box ticks every row shown.
        selectAll->click();
        QCOMPARE(selectAll->checkState(), Qt::Checked);
        QCOMPARE(table->item(rows.at(0), PackageTable::ColumnCheck)->checkState(), Qt::Checked);

        YumControl &yum = h.yum();
        yum.hold(true);
        QSignalSpy results(window->upgradeWorker(), &UpdateRpmThread::updateRpmExecEnd);
        window->findChild<QPushButton *>(QStringLiteral("btn_update_soft"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(yum.waiting() == 1, 60000);
        // The lower row goes first.
        QVERIFY2(yum.calls().last().contains(
                     QLatin1Char('/') + h.cell(table, rows.at(1), PackageTable::ColumnRpm) + ' '),
                 qPrintable(yum.calls().join('|')));
        window->findChild<QPushButton *>(QStringLiteral("btn_update_soft"))->click();
        QCOMPARE(h.dialogs().messages(), QStringList{QStringLiteral("正在升级软件！")});

        yum.hold(false);
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 2, 240000);
        QCOMPARE(results.at(0).at(3).toString(),
                 h.cell(table, rows.at(1), PackageTable::ColumnKey));
        QCOMPARE(results.at(1).at(3).toString(),
                 h.cell(table, rows.at(0), PackageTable::ColumnKey));
        QCOMPARE(results.at(0).at(1).toInt(), 0);
        QCOMPARE(results.at(1).at(1).toInt(), 0);
        QVERIFY(h.sandbox().isInstalled("cv-hello-1.1-1"));
        QVERIFY(h.sandbox().isInstalled("cv-editor-2.1-1"));
        QVERIFY(h.sandbox().isInstalled("cv-player-3.2-4"));
        // The results reach the window after the worker has sent them. The badge counts what
        // the database holds, which the second upgrade may change before the window has taken
        // in the first result: the rows are waited for as well.
        QTRY_VERIFY(badge->isHidden() && h.visibleRows(table).isEmpty());
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("label_update_info"))->text(),
                 QStringLiteral("     总共0款软件可更新"));
        QCOMPARE(h.dialogs().messages().size(), 1);
    }

    // The batch presses idle rows only, and what it could not press leaves it: the next batch
    // is a batch of its own.
    void upgradeBatchPressesIdleRowsOnly_data()
    {
        QTest::addColumn<bool>("upperHidden"); // else the lower row's upgrade runs already
        QTest::newRow("the same upgrade running") << false;
        QTest::newRow("a row hidden while the batch is pressed") << true;
    }

    void upgradeBatchPressesIdleRowsOnly()
    {
        QFETCH(bool, upperHidden);
        ShellHarness h;
        MainWindow *window = startWithTwoUpgrades(h);
        QVERIFY(window);
        window->findChild<QPushButton *>(QStringLiteral("btn_packageUpdate"))->click();
        QTableWidget *table = h.catalogTable();
        const QVector<int> rows = h.visibleRows(table);
        QCOMPARE(rows.size(), 2);
        const QString lowerKey = h.cell(table, rows.at(1), PackageTable::ColumnKey);
        const QString upperKey = h.cell(table, rows.at(0), PackageTable::ColumnKey);
        YumControl &yum = h.yum();
        QSignalSpy results(window->upgradeWorker(), &UpdateRpmThread::updateRpmExecEnd);
        if (upperHidden) {
            // Goes while the lower row, pressed first, asks whether its application runs.
            QTimer::singleShot(0, table, [table, &rows] { table->setRowHidden(rows.at(0), true); });
        } else {
            yum.hold(true);
            h.controllerOf(table, h.cell(table, rows.at(1), PackageTable::ColumnDisplayName))
                ->operationButton()
                ->click();
            QTRY_VERIFY_WITH_TIMEOUT(yum.waiting() == 1, 240000);
        }
        for (int row : rows)
            PackageTable::setCheckItem(table, row, true);
        auto *batch = window->findChild<QPushButton *>(QStringLiteral("btn_update_soft"));
        batch->click();
        yum.hold(false);

        const auto keys = [&results] {
            QStringList seen;
            for (const QList<QVariant> &result : results)
                seen << result.at(3).toString();
            return seen;
        };
        // The last result due: the upper row's, or the lower one's when the upper was hidden.
        QTRY_VERIFY_WITH_TIMEOUT(keys().contains(upperHidden ? lowerKey : upperKey), 240000);
        QCOMPARE(keys(), upperHidden ? QStringList{lowerKey} : (QStringList{lowerKey, upperKey}));
        // The window has taken in the results too.
        QTRY_VERIFY(PackageTable::findRow(table, PackageTable::ColumnState, "1") < 0);
        for (int row = 0; row < table->rowCount(); ++row)
            PackageTable::setCheckItem(table, row, false);
        batch->click();
        QCOMPARE(h.dialogs().messages(), QStringList{QStringLiteral("请选择升级的软件！")});
    }

    // A restart from the download manager whose row goes while it asks whether the application
    // runs starts nothing; the next request of a row is listed in the manager as usual.
    void restartWhoseRowWentAway()
    {
        ShellHarness h;
        MainWindow *window = startWithTwoUpgrades(h);
        QVERIFY(window);
        QTableWidget *table = h.catalogTable();
        LoadDialog *manager = window->downloadManager();
        YumControl &yum = h.yum();
        yum.fail(true);
        QSignalSpy results(window->upgradeWorker(), &UpdateRpmThread::updateRpmExecEnd);
        h.controllerOf(table, Hello)->operationButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        Items *entry = manager->itemOf("cv-hello");
        QVERIFY(entry);
        QTRY_COMPARE(entry->ui->pushButton_reload->text(), QStringLiteral("重新下载"));
        yum.fail(false);

        // The row's controller goes while it asks whether the application runs.
        QPointer<InstallItem> restarted = h.controllerOf(table, Hello);
        QTimer::singleShot(0, window, [restarted] { delete restarted.data(); });
        entry->ui->pushButton_reload->click();
        QVERIFY(!restarted);
        QCOMPARE(results.count(), 1);

        h.controllerOf(table, Editor)->operationButton()->click();
        QVERIFY(manager->itemOf("cv-editor"));
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 2, 120000);
    }

    void openingAnApplicationWithoutCommand()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        QVERIFY(h.sandbox().install(TestRepository::standardPackage("cv-player", "3.2")));
        h.start();
        QVERIFY(h.load({ShellHarness::packageEntry("cv-player", "3.2")}));
        InstallItem *item = h.controllerOf(h.catalogTable(), Player);
        QCOMPARE(item->operationButton()->text(), QStringLiteral("打开软件"));
        item->operationButton()->click();
        QCOMPARE(h.dialogs().messages(), QStringList{QStringLiteral("此应用程序不能打开！")});
    }

    void launchingAnApplication()
    {
        if (getlogin())
            QSKIP("a login session names the user here; the environment does not decide");
        ShellHarness h;
        QVERIFY(h.isValid());
        QVERIFY(h.sandbox().install(TestRepository::standardPackage("cv-player", "3.2")));
        // The store runs as root; the application as the user who started it through sudo.
        const bool hadSudo = qEnvironmentVariableIsSet("SUDO_UID");
        const QByteArray savedSudo = qgetenv("SUDO_UID");
        qputenv("SUDO_UID", "65534");
        const auto restore = qScopeGuard([&] {
            if (hadSudo)
                qputenv("SUDO_UID", savedSudo);
            else
                qunsetenv("SUDO_UID");
        });
        QTemporaryDir dir(QDir::tempPath() + "/corvane-launch-XXXXXX");
        QVERIFY(dir.isValid() &&
                QFile::setPermissions(dir.path(), QFile::ReadOther | QFile::WriteOther |
                                                      QFile::ExeOther | QFile::ReadOwner |
                                                      QFile::WriteOwner | QFile::ExeOwner));
        if (!AccountAccess::whyUnreachable(dir.path()).isEmpty())
            QSKIP(qPrintable(AccountAccess::whyUnreachable(dir.path())));
        h.start();
        // The launch command is a shell command line.
        CatalogEntry player = ShellHarness::packageEntry("cv-player", "3.2");
        player.exec = "cd " + dir.path() + " && id -u > \"launched-$USER\"";
        QVERIFY(h.load({player}));
        h.controllerOf(h.catalogTable(), Player)->operationButton()->click();
        const QString launched = dir.filePath("launched-nobody");
        QTRY_VERIFY_WITH_TIMEOUT(QFile(launched).size() > 0, 60000);
        QFile uid(launched);
        QVERIFY(uid.open(QIODevice::ReadOnly));
        QCOMPARE(uid.readAll().trimmed(), QByteArray("65534"));
        QVERIFY(h.dialogs().messages().isEmpty());
    }

    void runningApplicationIsLeftAlone_data()
    {
        QTest::addColumn<bool>("upgrade");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("upgrade") << true << QStringList{Editor + QStringLiteral("正在运行！")};
        QTest::newRow("uninstall")
            << false
            << QStringList{QStringLiteral("确定要卸载吗？"), Editor + QStringLiteral("正在运行！")};
    }

    void runningApplicationIsLeftAlone()
    {
        QFETCH(bool, upgrade);
        QFETCH(QStringList, messages);
        ShellHarness h;
        QVERIFY(h.isValid());
        QVERIFY(h.sandbox().install(TestRepository::standardPackage("cv-editor", "2.0")));
        // The application: a program whose command line is the catalog's launch command.
        const QString program = h.sandbox().path(QStringLiteral("/usr/bin/cv-editor-app"));
        QVERIFY(QDir().mkpath(h.sandbox().path(QStringLiteral("/usr/bin"))));
        // A link, not a copy: a copy's write handle, inherited by a child another thread forks
        // meanwhile, makes starting it fail with "text file busy".
        QVERIFY(QFile::link(QStringLiteral("/bin/sleep"), program));
        QProcess running;
        running.start(program, {QStringLiteral("600")});
        QVERIFY(running.waitForStarted());

        MainWindow *window = h.start();
        CatalogEntry editor = ShellHarness::packageEntry("cv-editor", "2.1");
        editor.exec = program;
        QVERIFY(h.load({editor}));
        QTableWidget *table = upgrade ? h.catalogTable() : h.uninstallTable();
        window
            ->findChild<QPushButton *>(upgrade ? QStringLiteral("btn_packageUpdate")
                                               : QStringLiteral("btn_packageDelete"))
            ->click();
        InstallItem *item = h.controllerOf(table, Editor);
        QVERIFY2(item, qPrintable(QString::number(table->rowCount())));
        QCOMPARE(item->operationButton()->text(),
                 upgrade ? QStringLiteral("升级") : QStringLiteral("卸载"));
        item->operationButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs().messages(), messages, 60000);
        QCOMPARE(h.cell(table, h.rowOf(table, Editor), PackageTable::ColumnState),
                 QStringLiteral("0"));
        QVERIFY(h.sandbox().isInstalled("cv-editor-2.0-1"));
        QVERIFY(!window->downloadManager()->itemOf("cv-editor"));
        running.kill();
        running.waitForFinished();
    }
};

QObject *createOperationTests()
{
    return new TestOperations;
}

#include "tst_operations.moc"
