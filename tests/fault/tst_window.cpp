#include "combobox.h"
#include "getauththread.h"
#include "installitem.h"
#include "mainwindow.h"
#include "packagetable.h"
#include "quitinstallthread.h"
#include "shellharness.h"
#include "testrepository.h"

#include <QApplication>
#include <QDirIterator>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

namespace
{

const int Long = 180000;

TestPackage standardPackage(const QString &name, const QString &version)
{
    for (const TestPackage &package : TestRepository::standardPackages())
        if (package.name == name && package.version == version)
            return package;
    return TestPackage();
}

// Shell text that leaves a file named pwned<n> in the root when a shell ever runs it.
QString hostile(const QString &root, int n)
{
    return QStringLiteral("x$(touch %1/pwned%2a)`touch %1/pwned%2b`';touch %1/pwned%2c;'")
        .arg(root)
        .arg(n);
}

QStringList pwnedFiles(const QString &directory)
{
    QStringList found;
    QDirIterator it(directory, {QStringLiteral("pwned*")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
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
        QVERIFY(h.sandbox().install(standardPackage("cv-player", "3.2")));
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
        item->comboBox()->setCurrentIndex(0);
        QTest::mouseClick(item->comboBox(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
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
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
