// Questions that must be asked, cancels that must leave nothing behind and dialogs that must
// not lose a message or act on a row that went away meanwhile.
#include "queues/downloadthread.h"
#include "queues/getauththread.h"
#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "shellharness.h"
#include "tasks/installitem.h"
#include "tests/support/testrepository.h"
#include "yumcontrol.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

namespace
{

const QString Hello = QStringLiteral("你好世界");
const QString Editor = QStringLiteral("文本编辑器");
const QString Player = QStringLiteral("影音播放器");
const QString AskOne = QStringLiteral("确定要卸载吗？");
const QString AskBatch = QStringLiteral("确定要卸载所有已勾选软件吗？");
const QString Viewer = QStringLiteral("看图软件");
const QString Plugin = QStringLiteral("看图插件");

// An application, a plugin of the catalog that needs it and a package outside the catalog
// that needs it too.
const TestPackage &viewerPackage(int which)
{
    static const TestPackage packages[] = {
        {QStringLiteral("cv-viewer"), QStringLiteral("1.0")},
        {QStringLiteral("cv-viewer-plugin"),
         QStringLiteral("1.0"),
         QStringLiteral("1"),
         64,
         {QStringLiteral("cv-viewer")}},
        {QStringLiteral("cv-viewer-skin"),
         QStringLiteral("1.0"),
         QStringLiteral("1"),
         64,
         {QStringLiteral("cv-viewer")}},
    };
    return packages[which];
}

TestRepository &viewerRepository()
{
    static TestRepository repository({viewerPackage(0), viewerPackage(1), viewerPackage(2)});
    return repository;
}

CatalogEntry viewerEntry(const QString &name, const TestPackage &package)
{
    CatalogEntry entry;
    entry.name = name;
    entry.icon = package.name;
    entry.rpm = package.name + '-' + package.version + '-' + package.release;
    entry.type = QStringLiteral("7");
    entry.version = package.version;
    return entry;
}

} // namespace

class TestSafeguards : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
    }

    void singleUninstallAfterABatchAsks()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startOnUninstallPage();
        QVERIFY(window);
        QTableWidget *table = h.uninstallTable();
        QSignalSpy results(window->uninstallWorker(), &GetAuthThread::uninstallExecEnd);
        PackageTable::setCheckItem(table, h.rowOf(table, Hello), true);
        window->findChild<QPushButton *>(QStringLiteral("btn_delete_soft"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QTRY_COMPARE(h.rowOf(table, Hello), -1);

        h.dialogs().clear();
        h.dialogs().queue(DialogWatcher::Cancel);
        h.controllerOf(table, Editor)->operationButton()->click();
        QCOMPARE(h.dialogs().messages(), QStringList{AskOne});
        QCOMPARE(h.cell(table, h.rowOf(table, Editor), PackageTable::ColumnState),
                 QStringLiteral("0"));
        QVERIFY(h.sandbox().isInstalled("cv-editor-2.0-1"));
        QCOMPARE(results.count(), 1);
    }

    // rpm -e runs with --nodeps: the question names the installed software that needs what
    // goes, and only that; packages removed together do not count.
    void uninstallNamesWhatNeedsIt_data()
    {
        QTest::addColumn<bool>("batch");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<bool>("withSkin");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("question");
        const QString onlyOne = QStringLiteral("以下已安装的软件依赖它，卸载后可能无法使用：");
        const QString selected =
            QStringLiteral("以下已安装的软件依赖所选软件，卸载后可能无法使用：");
        QTest::newRow("application")
            << false << QStringList{Viewer} << false << false << AskOne + '\n' + onlyOne + Plugin;
        QTest::newRow("application, needed outside the catalog too")
            << false << QStringList{Viewer} << true << false
            << AskOne + '\n' + onlyOne + QStringLiteral("cv-viewer-skin、") + Plugin;
        QTest::newRow("what nothing needs")
            << false << QStringList{Plugin} << false << false << AskOne;
        QTest::newRow("batch of the application")
            << true << QStringList{Viewer} << false << false << AskBatch + '\n' + selected + Plugin;
        QTest::newRow("batch with what needs it")
            << true << QStringList{Viewer, Plugin} << false << false << AskBatch;
        QTest::newRow("application, confirmed")
            << false << QStringList{Viewer} << false << true << AskOne + '\n' + onlyOne + Plugin;
    }

    void uninstallNamesWhatNeedsIt()
    {
        QFETCH(bool, batch);
        QFETCH(QStringList, removed);
        QFETCH(bool, withSkin);
        QFETCH(bool, confirm);
        QFETCH(QString, question);
        QVERIFY2(viewerRepository().isValid(), qPrintable(viewerRepository().errorString()));
        ShellHarness h;
        QVERIFY(h.isValid());
        QStringList files;
        for (int which = 0; which < (withSkin ? 3 : 2); ++which)
            files << viewerRepository().packageFile(viewerPackage(which));
        QCOMPARE(h.sandbox().rpm(QStringList{QStringLiteral("-Uvh")} + files).exitCode, 0);
        MainWindow *window = h.startLoaded(
            {viewerEntry(Viewer, viewerPackage(0)), viewerEntry(Plugin, viewerPackage(1))});
        QVERIFY(window);
        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
        QTableWidget *table = h.uninstallTable();
        QSignalSpy results(window->uninstallWorker(), &GetAuthThread::uninstallExecEnd);

        h.dialogs().queue(confirm ? DialogWatcher::Ok : DialogWatcher::Cancel);
        if (batch) {
            for (const QString &name : removed)
                PackageTable::setCheckItem(table, h.rowOf(table, name), true);
            window->findChild<QPushButton *>(QStringLiteral("btn_delete_soft"))->click();
        } else {
            h.controllerOf(table, removed.first())->operationButton()->click();
        }
        QCOMPARE(h.dialogs().messages(), QStringList{question});
        // Told, the user decides: the package goes, what needs it stays.
        if (confirm)
            QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QVERIFY(h.sandbox().isInstalled(QStringLiteral("cv-viewer-plugin-1.0-1")));
        QCOMPARE(h.sandbox().isInstalled(QStringLiteral("cv-viewer-1.0-1")), !confirm);
    }

    void rowRemovedWhileItsQuestionIsOpen()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startOnUninstallPage();
        QVERIFY(window);
        QTableWidget *table = h.uninstallTable();
        QSignalSpy results(window->uninstallWorker(), &GetAuthThread::uninstallExecEnd);
        // A result elsewhere makes the row anew while the question is open.
        h.dialogs().beforeNextAnswer(
            [&] { window->modifyDeleteTableWidget(Player, QStringLiteral("cv-player-3.2-4")); });
        h.controllerOf(table, Player)->operationButton()->click();
        QCOMPARE(h.dialogs().messages(), QStringList{AskOne});
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QTRY_COMPARE(h.rowOf(table, Player), -1);
        QVERIFY(!h.sandbox().isInstalled("cv-player-3.2-4"));
        QCOMPARE(table->rowCount(), 2);
    }

    void cancellingAQueuedDownloadLeavesTheRowIdle()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startLoaded({ShellHarness::packageEntry("cv-hello", "1.0"),
                                            ShellHarness::packageEntry("cv-editor", "2.0")});
        QVERIFY(window);
        QTableWidget *table = h.catalogTable();
        YumControl &yum = h.yum();
        yum.hold(true);
        yum.fail(true);
        QSignalSpy results(window->downloadWorker(), &DownloadThread::downloadExecEnd);
        ShellHarness::choose(h.controllerOf(table, Hello), ShellHarness::DownloadEntry);
        QTRY_VERIFY_WITH_TIMEOUT(yum.waiting() == 1, 60000);
        ShellHarness::choose(h.controllerOf(table, Editor), ShellHarness::DownloadEntry);
        h.controllerOf(table, Editor)->cancelButton()->click();
        QCOMPARE(h.cell(table, h.rowOf(table, Editor), PackageTable::ColumnState),
                 QStringLiteral("0"));

        // The running download's own failure is reported as any other.
        yum.hold(false);
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QTRY_COMPARE(h.dialogs().messages(), QStringList{QStringLiteral("下载软件失败！")});
        QCOMPARE(results.first().at(3).toString(), QStringLiteral("cv-hello"));
    }

    void uninstallPageLeavesTheFirstScrollToTheUser()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        // More installed packages than the first batch: the entry loads the rest itself.
        QVector<TestPackage> packages;
        QVector<CatalogEntry> catalog;
        for (int i = 0; i < 30; ++i) {
            const QString name = QStringLiteral("cv-many-%1").arg(i, 2, 10, QLatin1Char('0'));
            packages << TestPackage{name, QStringLiteral("1.0")};
            CatalogEntry entry;
            entry.name = QStringLiteral("多个软件 ") + name.right(2);
            entry.icon = name;
            entry.rpm = name + QStringLiteral("-1.0-1");
            entry.type = QStringLiteral("5");
            entry.version = QStringLiteral("1.0");
            catalog << entry;
        }
        QString error;
        QVERIFY2(h.sandbox().installEmpty(packages, &error), qPrintable(error));
        MainWindow *window = h.startLoaded(catalog);
        QVERIFY(window);
        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
        QTableWidget *table = h.uninstallTable();
        QCOMPARE(table->rowCount(), packages.size());
        QScrollBar *bar = table->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        const int middle = bar->maximum() / 2;
        bar->setValue(middle);
        QApplication::processEvents();
        QCOMPARE(bar->value(), middle);
    }

    void messageDuringAMessageIsShownAfterIt()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.startLoaded({ShellHarness::packageEntry("cv-hello", "1.0")});
        QVERIFY(window);
        h.dialogs().beforeNextAnswer([window] { window->showMessage(QStringLiteral("second")); });
        window->showMessage(QStringLiteral("first"));
        QTRY_COMPARE(h.dialogs().messages(),
                     (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    }
};

QObject *createSafeguardTests()
{
    return new TestSafeguards;
}

#include "tst_safeguards.moc"
