// Questions that must be asked, cancels that must leave nothing behind and dialogs that must
// not lose a message or act on a row that went away meanwhile.
#include "queues/downloadthread.h"
#include "queues/getauththread.h"
#include "records/paths.h"
#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "shellharness.h"
#include "tasks/installitem.h"
#include "tests/support/databaselock.h"
#include "tests/support/stallwatch.h"
#include "tests/support/testrepository.h"
#include "tests/support/withoutstalling.h"
#include "widgets/cycloprogress.h"
#include "yumcontrol.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <thread>

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

// The viewer and its plugin installed and in the catalog (the skin installed alone), shown on
// the uninstall page; null when that failed.
MainWindow *startWithViewer(ShellHarness &h, bool withSkin)
{
    if (!viewerRepository().isValid() || !h.isValid())
        return nullptr;
    QStringList files;
    for (int which = 0; which < (withSkin ? 3 : 2); ++which)
        files << viewerRepository().packageFile(viewerPackage(which));
    if (h.sandbox().rpm(QStringList{QStringLiteral("-Uvh")} + files).exitCode != 0)
        return nullptr;
    MainWindow *window = h.startLoaded(
        {viewerEntry(Viewer, viewerPackage(0)), viewerEntry(Plugin, viewerPackage(1))});
    if (window)
        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
    return window;
}

// Whether an rpm process asks about removing package (rpm -e --test) at this moment.
bool removalCheckRuns(const QString &package)
{
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile file(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = file.readAll().split('\0');
        if (arguments.contains("--test") && arguments.contains(package.toUtf8()))
            return true;
    }
    return false;
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
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs().messages(), QStringList{AskOne}, 60000);
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
        ShellHarness h;
        MainWindow *window = startWithViewer(h, withSkin);
        QVERIFY(window);
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
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs().messages(), QStringList{question}, 60000);
        // Told, the user decides: the package goes, what needs it stays.
        if (confirm)
            QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 120000);
        QVERIFY(h.sandbox().isInstalled(QStringLiteral("cv-viewer-plugin-1.0-1")));
        QCOMPARE(h.sandbox().isInstalled(QStringLiteral("cv-viewer-1.0-1")), !confirm);
    }

    // rpm waits while another program holds its database: the window does not. The row waits
    // for its question, a second click on it asks nothing new, and the question names both
    // dependants once rpm has answered.
    void dependantsCheckLeavesTheWindowFree()
    {
        ShellHarness h;
        MainWindow *window = startWithViewer(h, true);
        QVERIFY(window);
        QTableWidget *table = h.uninstallTable();
        InstallItem *viewer = h.controllerOf(table, Viewer);
        h.dialogs().queue(DialogWatcher::Cancel);
        h.dialogs().queue(DialogWatcher::Cancel);
        // Held against readers too: rpm -e --test waits as long as the lock is held.
        DatabaseLock held(Paths::rpmDatabaseDirectory() + QStringLiteral("/rpmdb.sqlite"),
                          DatabaseLock::Hold::AllReaders);
        QVERIFY(held.isLocked());

        StallWatch watch;
        viewer->operationButton()->click();
        // Looked for on another thread: the watch is for the window's own work.
        QVERIFY(withoutStalling(
            [] {
                // A minute at most, as withoutStalling's own bound.
                for (int tries = 0; tries < 6000; ++tries) {
                    if (removalCheckRuns(QStringLiteral("cv-viewer")))
                        return true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                return false;
            },
            60000));
        QCOMPARE(h.cell(table, h.rowOf(table, Viewer), PackageTable::ColumnState),
                 QStringLiteral("1"));
        QVERIFY(!viewer->cycloProgress()->isHidden());
        viewer->operationButton()->click();
        QVERIFY(h.dialogs().messages().isEmpty());
        // Tens of milliseconds when it waits off the GUI thread, rpm's whole wait otherwise; the
        // bound is the stall watch's second, as a loaded machine may delay any thread by more
        // than a tenth.
        QVERIFY(watch.responsive());

        held.release();
        const QString dependants =
            QStringLiteral("以下已安装的软件依赖它，卸载后可能无法使用：cv-viewer-skin、") + Plugin;
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs().messages(), QStringList{AskOne + '\n' + dependants},
                                  60000);
        // Declined: the row offers "卸载" again; the next question is the next row's alone.
        QCOMPARE(h.cell(table, h.rowOf(table, Viewer), PackageTable::ColumnState),
                 QStringLiteral("0"));
        QVERIFY(!viewer->operationButton()->isHidden());
        h.controllerOf(table, Plugin)->operationButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs().messages(),
                                  (QStringList{AskOne + '\n' + dependants, AskOne}), 60000);
        QVERIFY(h.sandbox().isInstalled(QStringLiteral("cv-viewer-1.0-1")));
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
        QTRY_COMPARE_WITH_TIMEOUT(h.dialogs().messages(), QStringList{AskOne}, 60000);
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
