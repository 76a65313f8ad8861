// The catalog server's fleet database. (1) A join storm: 10,000 desktops each sending an
// inventory of 50 packages and one result, taken through the server's ingest path (the
// frame's checks, the rate, the queue and the writer thread batching into SQLite WAL) from
// their texts; the transport is left out. Floor: SQLite inserting the same rows in one
// transaction. (2) The report and the status page over 10,000 desktops, 500,000 installed
// rows and 1,000,000 results (median of 5).
#include "fleet/fleetdatabase.h"
#include "fleet/fleetingest.h"
#include "fleet/fleetpage.h"
#include "fleet/fleetreport.h"
#include "sync/reportframe.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sqlite3.h>
#include <vector>

namespace
{

constexpr int Desktops = 10000;
constexpr int PackagesEach = 50;
constexpr int Results = 1000000;
constexpr int Repetitions = 5;

QString desktop(int i)
{
    return QString::asprintf("10.%d.%d.%d", i / 65536 % 256, i / 256 % 256, i % 256 + 1);
}

QString package(int desktopIndex, int p)
{
    // Versions spread: most desktops have 1.0, some 1.1, a few 0.9.
    const int pick = (desktopIndex + p) % 10;
    return QString::asprintf("cvb-pkg%03d-%s-1", p, pick < 7 ? "1.0" : pick < 9 ? "1.1" : "0.9");
}

QString id(int desktopIndex, int n)
{
    return QString::asprintf("%016x-%d", desktopIndex + 1, n);
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

qint64 sizeOf(const QString &database)
{
    return QFileInfo(database).size() + QFileInfo(database + "-wal").size();
}

void row(const char *label, double value, double floor)
{
    if (floor > 0)
        std::printf("%s %.2f %.2f %.1f\n", label, value, floor, value / floor);
    else
        std::printf("%s %.2f - -\n", label, value);
}

// The storm's rows with plain SQL in one transaction, into the same schema: its seconds, and
// the CPU seconds into *cpu.
double floorInsert(const QString &path, double *cpu)
{
    FleetDatabase made;
    QString error;
    made.open(path, false, &error);
    sqlite3 *db = made.handle();
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *d = nullptr, *i = nullptr, *r = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO desktops VALUES(?, '', 1, 1, 5, 1)", -1, &d, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO installed VALUES(?, ?, ?)", -1, &i, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO results VALUES(?, ?, 1, 1, 'x', 'cvb-a-1-1', 'cvb-a', 0, '')",
                       -1, &r, nullptr);
    for (int k = 0; k < Desktops; ++k) {
        const QByteArray address = desktop(k).toUtf8();
        sqlite3_bind_text(d, 1, address.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(d);
        sqlite3_reset(d);
        for (int p = 0; p < PackagesEach; ++p) {
            const QByteArray name = QString::asprintf("cvb-pkg%03d", p).toUtf8();
            sqlite3_bind_text(i, 1, address.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(i, 2, name.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(i, 3, "1.0-1", -1, SQLITE_STATIC);
            sqlite3_step(i);
            sqlite3_reset(i);
        }
        const QByteArray report = id(k, 2).toUtf8();
        sqlite3_bind_text(r, 1, address.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(r, 2, report.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(r);
        sqlite3_reset(r);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(d);
    sqlite3_finalize(i);
    sqlite3_finalize(r);
    *cpu = cpuSeconds() - cpuBefore;
    return clock.elapsed() / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString storm = dir.path() + "/fleet.db";

    // The texts as the stores send them, made before the clock starts.
    QStringList texts;
    texts.reserve(2 * Desktops);
    for (int k = 0; k < Desktops; ++k) {
        ReportFrame::Inventory inventory;
        inventory.id = id(k, 1);
        inventory.time = 1700000000;
        inventory.sequence = 5;
        for (int p = 0; p < PackagesEach; ++p)
            inventory.packages << package(k, p);
        texts << ReportFrame::composeInventory(desktop(k), inventory, 65535);
        ReportFrame::Result result;
        result.id = id(k, 2);
        result.time = 1700000000;
        result.oper = QStringLiteral("升级");
        result.rpm = package(k, 0);
        result.code = k % 10 == 0 ? -2 : 0;
        result.echo = result.code ? QStringLiteral("error: %prein scriptlet failed") : QString();
        texts << ReportFrame::composeResult(desktop(k), result);
    }

    FleetIngest::Settings settings;
    settings.database = storm;
    settings.queueLimit = 2 * Desktops;
    FleetIngest ingest(
        settings, [](const QString &, const QStringList &) {},
        [](const QString &line) { std::fprintf(stderr, "%s\n", line.toUtf8().constData()); });
    QString error;
    if (!ingest.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    int refused = 0;
    for (const QString &text : qAsConst(texts)) {
        FleetDatabase::Report report;
        // What the server does with each message: the checks, the rate, the queue.
        if (!report.frame.parse(text, &error) || !ingest.allow(report.frame.client())) {
            ++refused;
            continue;
        }
        report.desktop = report.frame.client();
        report.received = QDateTime::currentSecsSinceEpoch();
        refused += ingest.submit(std::move(report)) ? 0 : 1;
    }
    ingest.flush();
    const double seconds = clock.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    double floorCpu = 0;
    const double floorSeconds = floorInsert(dir.path() + "/floor.db", &floorCpu);

    std::printf("figure value floor ratio\n");
    row("fleet storm: 20,000 reports stored (s)", seconds, floorSeconds);
    row("fleet storm: reports per second", 2 * Desktops / seconds, 2 * Desktops / floorSeconds);
    row("fleet storm: CPU per report (us)", cpu / (2 * Desktops) * 1e6,
        floorCpu / (2 * Desktops) * 1e6);
    row("fleet storm: database size (MiB)", sizeOf(storm) / 1048576.0,
        sizeOf(dir.path() + "/floor.db") / 1048576.0);
    if (refused)
        std::printf("# %d reports refused\n", refused);

    // A million results: the storm's and more, in one transaction.
    {
        FleetDatabase db;
        db.open(storm, false, &error);
        sqlite3_exec(db.handle(),
                     "BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE"
                     " i < 990000) INSERT INTO results SELECT '10.0.' || (i % 39) || '.' ||"
                     " (i % 250 + 1), printf('%016x-%d', i, i + 10), 1700000000 + i,"
                     " strftime('%s','now') - (i % 30) * 86400, '升级', 'cvb-pkg' ||"
                     " printf('%03d', i % 50) || '-1.1-1', 'cvb-pkg' || printf('%03d', i % 50),"
                     " CASE WHEN i % 20 = 0 THEN -2 ELSE 0 END, CASE WHEN i % 20 = 0 THEN"
                     " 'error: %prein scriptlet failed' ELSE '' END FROM n; COMMIT;",
                     nullptr, nullptr, nullptr);
    }
    FleetDatabase reader;
    reader.open(storm, true, &error);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    std::vector<double> summary, onePackage, oneDesktop, page;
    for (int i = 0; i < Repetitions; ++i) {
        const FleetReport report(reader.handle(), now);
        clock.restart();
        (void)FleetReport::render(report.summary(), FleetReport::Format::Text);
        summary.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        (void)FleetReport::render(report.package("cvb-pkg007"), FleetReport::Format::Text);
        onePackage.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        (void)FleetReport::render(report.desktop(desktop(4242)), FleetReport::Format::Text);
        oneDesktop.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        (void)FleetPage::write(reader.handle(), now, dir.path() + "/page", &error);
        page.push_back(clock.nsecsElapsed() / 1e6);
    }
    row("fleet report: summary, 1M results (ms)", median(summary), 0);
    row("fleet report: one package (ms)", median(onePackage), 0);
    row("fleet report: one desktop (ms)", median(oneDesktop), 0);
    row("fleet page: fleet.html written (ms)", median(page), 0);
    return 0;
}
