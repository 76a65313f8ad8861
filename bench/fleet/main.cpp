// The catalog server's fleet database. (1) A join storm: 10,000 desktops each sending an
// inventory of 50 packages and one result, taken through the server's ingest path (the
// frame's checks, the rate, the queue and the writer thread batching into SQLite WAL) from
// their texts; the transport is left out. Floor: SQLite inserting the same rows in one
// transaction. (2) The report and the status page over 10,000 desktops, 500,000 installed
// rows and 1,000,000 results (median of 5). (3) The rollout poll over those results: its first
// look, which reads the package's 20,000 results, and its look after each batch of 100 new
// ones (median of 5). Floor: the same query alone, through the same index, in no transaction.
#include "fleet/fleetdatabase.h"
#include "fleet/fleetingest.h"
#include "fleet/fleetpage.h"
#include "fleet/fleetreport.h"
#include "rollout/rolloutbook.h"
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
    sqlite3_prepare_v2(db,
                       "INSERT INTO desktops(address, account, first_seen, last_seen, sequence,"
                       " inventory_time) VALUES(?, '', 1, 1, 5, 1)",
                       -1, &d, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO installed VALUES(?, ?, ?)", -1, &i, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO results VALUES(?, ?, 1, 1, 'x', 'cvb-a-1-1', 'cvb-a', 0, '',"
                       " '')",
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

// The rows the poll reads: the package's results after a rowid, stepped through bare (ms).
double floorQuery(sqlite3 *db, qint64 after, qint64 started)
{
    QElapsedTimer clock;
    clock.start();
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT rowid, address, ifnull(account, ''), oper, rpm, code FROM results"
                       " WHERE name = 'cvb-pkg007' AND rowid > ?1 AND received >= ?2"
                       " ORDER BY rowid",
                       -1, &select, nullptr);
    sqlite3_bind_int64(select, 1, after);
    sqlite3_bind_int64(select, 2, started);
    qint64 sum = 0;
    while (sqlite3_step(select) == SQLITE_ROW)
        sum += sqlite3_column_int64(select, 0) + sqlite3_column_bytes(select, 4);
    sqlite3_finalize(select);
    return sum >= 0 ? clock.nsecsElapsed() / 1e6 : 0;
}

// A rollout of cvb-pkg007 under way since before the oldest result, every desktop a pilot; the
// ingest's connection stores 100 more results of it between looks.
void rolloutPoll(const QString &storm, qint64 now)
{
    RolloutPolicy policy;
    QString error;
    RolloutPolicy::parse(QStringLiteral("default"), QStringLiteral("400d"),
                         QStringLiteral("999999"), &policy, &error);
    RolloutBook book(
        policy, {}, [](const QString &, const QString &) { return QStringLiteral("default"); },
        [](bool, const QString &) {});
    book.open(storm, &error);
    const qint64 started = now - 40 * 86400;
    book.observe({{"cvb-pkg007", "1.0-1"}}, started);
    book.observe({{"cvb-pkg007", "1.1-1"}}, started);
    FleetDatabase writer;
    writer.open(storm, false, &error);
    FleetDatabase bare;
    bare.open(storm, true, &error);
    const auto newest = [&] {
        sqlite3_stmt *select = nullptr;
        sqlite3_prepare_v2(bare.handle(), "SELECT max(rowid) FROM results", -1, &select, nullptr);
        sqlite3_step(select);
        const qint64 last = sqlite3_column_int64(select, 0);
        sqlite3_finalize(select);
        return last;
    };
    QElapsedTimer clock;
    clock.start();
    book.poll(now);
    const double first = clock.nsecsElapsed() / 1e6;
    const double firstFloor = floorQuery(bare.handle(), 0, started);
    std::vector<double> looks, floors;
    for (int i = 0; i < Repetitions; ++i) {
        QVector<FleetDatabase::Report> batch;
        for (int k = 0; k < 100; ++k) {
            ReportFrame::Result result;
            result.id = id(k, 100 + i);
            result.time = now;
            result.oper = QStringLiteral("升级");
            result.rpm = QStringLiteral("cvb-pkg007-1.1-1");
            FleetDatabase::Report report{desktop(k), QString(), now, {}};
            report.frame.parse(ReportFrame::composeResult(desktop(k), result), &error);
            batch << report;
        }
        const qint64 before = newest();
        writer.store(batch, 90, &error);
        clock.restart();
        book.poll(now);
        looks.push_back(clock.nsecsElapsed() / 1e6);
        floors.push_back(floorQuery(bare.handle(), before, started));
    }
    row("rollout poll: first look, 20,000 results (ms)", first, firstFloor);
    row("rollout poll: look after 100 new results (ms)", median(looks), median(floors));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString storm = dir.path() + "/fleet.db";
    QString error;

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

    // The repository offers the storm's packages, so each inventory's names are looked up.
    {
        FleetDatabase db;
        db.open(storm, false, &error);
        sqlite3_exec(db.handle(),
                     "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE"
                     " i < 49) INSERT INTO repository_versions SELECT printf('cvb-pkg%03d', i),"
                     " '1.0-1' FROM n",
                     nullptr, nullptr, nullptr);
    }
    FleetIngest::Settings settings;
    settings.database = storm;
    settings.queueLimit = 2 * Desktops;
    FleetIngest ingest(
        settings, [](const QString &, const QStringList &) {},
        [](const QString &line) { std::fprintf(stderr, "%s\n", line.toUtf8().constData()); });
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
                     " 'error: %prein scriptlet failed' ELSE '' END, '' FROM n; COMMIT;",
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
    rolloutPoll(storm, now);
    return 0;
}
