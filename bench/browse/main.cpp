// Times what the user waits for on the real store window with a catalog of 10,000 packages:
// a category switch, a search, a scroll batch and entering the upgrade and uninstall pages,
// each against the bare query of its records through exec_select.
#include "bench/support/benchcatalog.h"
#include "bench/support/benchpackages.h"
#include "facade/clientdemon.h"
#include "records/paths.h"
#include "shell/mainwindow.h"
#include "storage/database.h"
#include "tests/app/shell/shellharness.h"
#include "tests/support/catalogentry.h"
#include "tests/support/testpackage.h"

#include <sqlite3.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

constexpr int Repetitions = 9;

const char *const Base =
    "select s_name,s_icon,s_exec,s_rpm,s_version,s_size,s_description,s_star,type,sign,s_rpmdeps "
    "from softwares";

bool bareQuery(const QByteArray &sql)
{
    int rows = 0, columns = 0;
    char **result = exec_select(Paths::catalogDatabase().toUtf8().constData(), &rows, &columns,
                                sql.constData());
    free_result(result);
    return result != nullptr;
}

double timed(const std::function<bool()> &run)
{
    return BenchPackages::medianMs(run, Repetitions);
}

// The GUI thread's share: the slot itself and the events it leaves behind.
double onceMs(const std::function<void()> &before, const std::function<void()> &action)
{
    before();
    QApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    action();
    QApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

// The median excludes what before() costs.
double guiMs(const std::function<void()> &before, const std::function<void()> &action)
{
    std::vector<double> times;
    for (int i = 0; i < Repetitions; ++i)
        times.push_back(onceMs(before, action));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("%{if-warning}%{message}%{endif}"));

    ShellHarness harness;
    const QVector<TestPackage> packages = BenchCatalog::installedPackages();
    QString error;
    if (!harness.isValid() || !harness.sandbox().installEmpty(packages, &error) ||
        !BenchCatalog::writeIcons()) {
        std::fprintf(stderr, "no sandbox: %s%s\n", qPrintable(harness.sandbox().errorString()),
                     qPrintable(error));
        return 1;
    }
    MainWindow *window = harness.start();
    // Filled once the start-up load has read the installed packages; the frame then brings the
    // window up, and its refresh computes every install state from the RPM database.
    if (!BenchCatalog::fill() ||
        !harness.sendFrame(
            catalogFrame(QStringLiteral("data_update_push"), {BenchCatalog::entry(1)})) ||
        !QTest::qWaitFor([window] { return !window->isLoading(); }, 60000)) {
        std::fprintf(stderr, "the window did not load the catalog\n");
        return 1;
    }
    const long loadedRss = peakRssKiB();

    auto *categories = window->findChild<QListWidget *>(QStringLiteral("listWidget"));
    auto *search = window->findChild<QLineEdit *>(QStringLiteral("lineEdit_search"));
    const QByteArray base(Base);
    std::printf("# browse: %d packages, %d installed, median of %d runs\n", BenchCatalog::Packages,
                packages.size(), Repetitions);
    BenchPackages::printHeader();

    int category = 0;
    const double switchMs = guiMs([] {},
                                  [&] {
                                      category = category % 13 + 1;
                                      categories->setCurrentRow(category);
                                      window->goPage(categories->item(category));
                                  });
    category = 0;
    const double switchFloor = timed([&] {
        category = category % 13 + 1;
        return bareQuery(base + " where type='" + QByteArray::number(category) + "'");
    });
    BenchPackages::printRow(QStringLiteral("browse category switch (ms)"), switchMs, switchFloor);
    std::printf("# browse: peak RSS %.1f MiB after the category switches\n", peakRssKiB() / 1024.0);

    categories->setCurrentRow(0);
    window->goPage(categories->item(0));
    const QString keywords[] = {QStringLiteral("编辑"), QStringLiteral("应用0012")};
    int k = 0;
    const double searchMs = guiMs([] {},
                                  [&] {
                                      search->setText(keywords[k++ % 2]);
                                      window->on_btn_search_clicked();
                                  });
    k = 0;
    const double searchFloor = timed([&] {
        const QByteArray word = keywords[k++ % 2].toUtf8();
        return bareQuery(base + " where s_name like '%" + word + "%' or s_description like '%" +
                         word + "%'");
    });
    BenchPackages::printRow(QStringLiteral("browse search (ms)"), searchMs, searchFloor);

    search->clear();
    categories->setCurrentRow(0);
    window->goPage(categories->item(0));
    const double scrollMs = guiMs([] {}, [&] { window->loadAllPackageNewData(); });
    int offset = 0;
    const double scrollFloor = timed([&] {
        offset += 11;
        return bareQuery(base + " limit 11 offset " + QByteArray::number(offset));
    });
    BenchPackages::printRow(QStringLiteral("browse scroll batch of 11 rows (ms)"), scrollMs,
                            scrollFloor);

    auto home = [&] { window->on_btn_allPackage_clicked(); };
    // The first entry builds the page; later ones find its rows.
    const double upgradeFirstMs = onceMs(home, [&] { window->on_btn_packageUpdate_clicked(); });
    const double upgradeMs = guiMs(home, [&] { window->on_btn_packageUpdate_clicked(); });
    const double upgradeFloor = timed([&] { return bareQuery(base + " where sign='1'"); });
    BenchPackages::printRow(QStringLiteral("browse enter upgrade page, first (ms)"), upgradeFirstMs,
                            upgradeFloor);
    BenchPackages::printRow(QStringLiteral("browse enter upgrade page (ms)"), upgradeMs,
                            upgradeFloor);
    std::printf("# browse: peak RSS %.1f MiB after the upgrade page\n", peakRssKiB() / 1024.0);

    const double uninstallFirstMs = onceMs(home, [&] { window->on_btn_packageDelete_clicked(); });
    const double uninstallMs = guiMs(home, [&] { window->on_btn_packageDelete_clicked(); });
    const double uninstallFloor =
        timed([&] { return bareQuery(base + " where sign='1' or sign='2'"); });
    BenchPackages::printRow(QStringLiteral("browse enter uninstall page, first (ms)"),
                            uninstallFirstMs, uninstallFloor);
    BenchPackages::printRow(QStringLiteral("browse enter uninstall page (ms)"), uninstallMs,
                            uninstallFloor);

    // Where the pages spend their time beyond the bare query: the facade's record lists.
    ClientDemon *demon = window->clientDemon();
    const double upgradeQueryMs =
        timed([&] { return !demon->selectSoftware(1, QString(), QString()).isEmpty(); });
    BenchPackages::printRow(QStringLiteral("browse split, facade query upgradable (ms)"),
                            upgradeQueryMs, upgradeFloor);
    const double uninstallQueryMs =
        timed([&] { return !demon->selectSoftware(2, QString(), QString()).isEmpty(); });
    BenchPackages::printRow(QStringLiteral("browse split, facade query installed (ms)"),
                            uninstallQueryMs, uninstallFloor);

    home();
    QApplication::processEvents();
    auto *catalogTable =
        window->findChild<QTableWidget *>(QStringLiteral("tableWidget_allPackage"));
    auto *deleteTable = window->findChild<QTableWidget *>(QStringLiteral("tableWidget_delete"));
    std::printf("# browse: %d catalog rows and %d uninstall rows built\n", catalogTable->rowCount(),
                deleteTable->rowCount());
    BenchPackages::printRow(QStringLiteral("browse peak RSS after loading (MiB)"),
                            loadedRss / 1024.0, 0);
    BenchPackages::printRow(QStringLiteral("browse peak RSS after every page (MiB)"),
                            peakRssKiB() / 1024.0, 0);
    return 0;
}
