#include "fleet/fleetdatabase.h"
#include "fleet/fleetstatement.h"
#include "sync/reportframe.h"

#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace
{

struct Server {
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FleetDatabase> db;
    qint64 now = 1700000000;
};

Server *server = nullptr;

// The first column of the query's one row.
qint64 value(const char *sql)
{
    FleetStatement select(server->db->handle(), sql);
    const qint64 found = select.next() ? select.integerAt(0) : -1;
    while (select.next()) {
    }
    return found;
}

bool sameReport(const ReportFrame &a, const ReportFrame &b)
{
    if (a.kind() != b.kind() || a.client() != b.client())
        return false;
    switch (a.kind()) {
    case ReportFrame::Kind::Result:
        return a.result().id == b.result().id && a.result().time == b.result().time &&
               a.result().oper == b.result().oper && a.result().rpm == b.result().rpm &&
               a.result().code == b.result().code && a.result().echo == b.result().echo;
    case ReportFrame::Kind::Inventory:
        return a.inventory().id == b.inventory().id && a.inventory().time == b.inventory().time &&
               a.inventory().sequence == b.inventory().sequence &&
               a.inventory().packages == b.inventory().packages;
    case ReportFrame::Kind::Ack:
        return a.ackIds() == b.ackIds();
    case ReportFrame::Kind::None:
        break;
    }
    return false;
}

} // namespace

// A fleet database of its own whose repository offers one package: the name check runs.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    server = new Server;
    server->app = std::make_unique<QCoreApplication>(*argc, *argv);
    server->dir = std::make_unique<QTemporaryDir>();
    server->db = std::make_unique<FleetDatabase>();
    QString error;
    if (!server->dir->isValid() ||
        !server->db->open(server->dir->filePath(QStringLiteral("fleet.db")), false, &error) ||
        sqlite3_exec(server->db->handle(),
                     "INSERT INTO repository_versions VALUES('cv-hello', '1.0-1')", nullptr,
                     nullptr, nullptr) != SQLITE_OK)
        std::abort();
    // The folder goes with the run.
    std::atexit([] { delete server; });
    return 0;
}

// Any bytes a desktop may send as a report: parsed as the server parses them, composed again
// the same, and stored as one desktop's, a second apart (its bound per day is reached);
// whatever came, the store succeeds and the desktop stays within its bounds.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    FleetDatabase::Report report{
        QStringLiteral("10.0.0.5"), QStringLiteral("li"), ++server->now, {}};
    QString error;
    if (!report.frame.parse(text, &error))
        return 0;
    ReportFrame again;
    const ReportFrame &frame = report.frame;
    const QString composed =
        frame.kind() == ReportFrame::Kind::Result
            ? ReportFrame::composeResult(frame.client(), frame.result())
        : frame.kind() == ReportFrame::Kind::Inventory
            ? ReportFrame::composeInventory(frame.client(), frame.inventory(), 1 << 24)
            : ReportFrame::composeAck(frame.client(), frame.ackIds());
    if (!again.parse(composed, &error) || !sameReport(frame, again))
        __builtin_trap();
    // The server takes no acknowledgement from a desktop.
    if (frame.kind() == ReportFrame::Kind::Ack)
        return 0;
    // Each result a new report, so that the day's bound is reached.
    if (frame.kind() == ReportFrame::Kind::Result) {
        ReportFrame::Result fresh = frame.result();
        fresh.id = QStringLiteral("00000000000000f1-%1").arg(server->now);
        if (!report.frame.parse(ReportFrame::composeResult(frame.client(), fresh), &error))
            __builtin_trap();
    }
    if (!server->db->store({report}, 90, &error))
        __builtin_trap();
    if (value("SELECT count(*) FROM results, desktops d WHERE received / 86400 = d.results_day") >
            FleetDatabase::ResultsPerDay ||
        value("SELECT count(*) FROM installed WHERE name NOT IN"
              " (SELECT package FROM repository_versions)") > FleetDatabase::UnknownPackages ||
        value("SELECT count(*) FROM desktops WHERE inventory_time > last_seen + 3600") != 0)
        __builtin_trap();
    return 0;
}
