#include "fleet/fleetdatabase.h"

#include "fleet/fleetstatement.h"
#include "queues/taskpackage.h"
#include "storage/schemaversion.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

namespace
{

const char *const Schema =
    "CREATE TABLE IF NOT EXISTS desktops(address TEXT PRIMARY KEY, account TEXT,"
    " first_seen INTEGER, last_seen INTEGER, sequence INTEGER, inventory_time INTEGER);"
    "CREATE TABLE IF NOT EXISTS installed(address TEXT, name TEXT, version TEXT,"
    " PRIMARY KEY(address, name)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS installed_name ON installed(name, version);"
    // account: who sent the result (a desktop's address may be reported from two accounts).
    "CREATE TABLE IF NOT EXISTS results(address TEXT, report TEXT, time INTEGER,"
    " received INTEGER, oper TEXT, rpm TEXT, name TEXT, code INTEGER, echo TEXT,"
    " account TEXT, PRIMARY KEY(address, report));"
    // A staged rollout per package and new version; state: pilot, promoted, halted, resumed,
    // pulled (the repository took it back) or superseded (a newer one followed).
    "CREATE TABLE IF NOT EXISTS rollouts(package TEXT, version TEXT, previous TEXT,"
    " pilots TEXT, groups TEXT, started INTEGER, state TEXT, changed INTEGER, reason TEXT,"
    " PRIMARY KEY(package, version));"
    // The newest version-release of each package the repository offered when last read.
    "CREATE TABLE IF NOT EXISTS repository_versions(package TEXT PRIMARY KEY, version TEXT)"
    " WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS results_received ON results(received);"
    "CREATE INDEX IF NOT EXISTS results_name ON results(name);";

// 1: desktops, installed and results; 2: rollouts and repository_versions added; 3: the
// account of each result.
const SchemaVersion &layouts()
{
    static const SchemaVersion layouts(
        [](sqlite3 *db) {
            if (!SchemaVersion::hasTable(db, "desktops"))
                return 0;
            return SchemaVersion::hasTable(db, "rollouts") ? 2 : 1;
        },
        {[](sqlite3 *db, QString *) {
             return SchemaVersion::exec(
                 db,
                 "CREATE TABLE IF NOT EXISTS rollouts(package TEXT, version TEXT, previous TEXT,"
                 " pilots TEXT, groups TEXT, started INTEGER, state TEXT, changed INTEGER,"
                 " reason TEXT, PRIMARY KEY(package, version));"
                 "CREATE TABLE IF NOT EXISTS repository_versions(package TEXT PRIMARY KEY,"
                 " version TEXT) WITHOUT ROWID;");
         },
         [](sqlite3 *db, QString *) {
             // Results before: counted under the account that reported their desktop last.
             return SchemaVersion::exec(
                 db, "ALTER TABLE results ADD COLUMN account TEXT;"
                     "UPDATE results SET account = (SELECT d.account FROM desktops d"
                     " WHERE d.address = results.address);");
         }});
    return layouts;
}

} // namespace

FleetDatabase::~FleetDatabase()
{
    sqlite3_close(m_db);
}

bool FleetDatabase::exec(const char *sql, QString *error)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    *error = QString::fromUtf8(message ? message : sqlite3_errmsg(m_db));
    sqlite3_free(message);
    return false;
}

bool FleetDatabase::open(const QString &path, bool readOnly, QString *error)
{
    if (!readOnly)
        QDir().mkpath(QFileInfo(path).path());
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        *error = path + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    sqlite3_busy_timeout(m_db, 10000);
    // Before anything else writes: a file of a later server stays exactly as it is.
    QString why;
    SchemaVersion::Outcome outcome = SchemaVersion::Outcome::Current;
    if (!readOnly) {
        outcome = layouts().bringUp(
            m_db, [](sqlite3 *db, QString *) { return SchemaVersion::exec(db, Schema); }, &why);
    } else if (const int found = SchemaVersion::version(m_db); found > layouts().current()) {
        outcome = SchemaVersion::Outcome::Newer;
        why = QStringLiteral("layout %1 is newer than this program's %2")
                  .arg(found)
                  .arg(layouts().current());
    }
    if (outcome != SchemaVersion::Outcome::Current && outcome != SchemaVersion::Outcome::Upgraded) {
        *error = path + QStringLiteral(": ") + why;
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    if (readOnly)
        return true;
    return exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", error);
}

bool FleetDatabase::store(const QVector<Report> &batch, int resultDays, QString *error)
{
    if (!exec("BEGIN IMMEDIATE", error))
        return false;
    FleetStatement seen(m_db,
                        "INSERT INTO desktops(address, account, first_seen, last_seen, sequence,"
                        " inventory_time) VALUES(?1, ?2, ?3, ?3, NULL, 0) ON CONFLICT(address) DO"
                        " UPDATE SET last_seen = max(last_seen, ?3), account = ?2");
    FleetStatement result(m_db,
                          "INSERT OR IGNORE INTO results(address, report, time, received, oper,"
                          " rpm, name, code, echo, account) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    FleetStatement fresher(m_db, "UPDATE desktops SET sequence = ?2, inventory_time = ?3"
                                 " WHERE address = ?1 AND inventory_time <= ?3");
    FleetStatement forget(m_db, "DELETE FROM installed WHERE address = ?");
    FleetStatement installed(m_db, "INSERT OR REPLACE INTO installed(address, name, version)"
                                   " VALUES(?, ?, ?)");
    FleetStatement expire(m_db, "DELETE FROM results WHERE received < ?");
    bool ok = seen.isValid() && result.isValid() && fresher.isValid() && forget.isValid() &&
              installed.isValid() && expire.isValid();
    qint64 latest = 0;
    for (const Report &report : batch) {
        if (!ok)
            break;
        latest = qMax(latest, report.received);
        ok = seen.text(1, report.desktop)
                 .text(2, report.account)
                 .integer(3, report.received)
                 .run() >= 0;
        if (!ok)
            break;
        if (report.frame.kind() == ReportFrame::Kind::Result) {
            const ReportFrame::Result &r = report.frame.result();
            ok = result.text(1, report.desktop)
                     .text(2, r.id)
                     .integer(3, r.time)
                     .integer(4, report.received)
                     .text(5, r.oper)
                     .text(6, r.rpm)
                     .text(7, TaskPackage(r.rpm).name)
                     .integer(8, r.code)
                     .text(9, r.echo)
                     .text(10, report.account)
                     .run() >= 0;
            continue;
        }
        const ReportFrame::Inventory &inventory = report.frame.inventory();
        // An inventory older than the one kept (sent again late) changes nothing.
        const int newer = fresher.text(1, report.desktop)
                              .integer(2, qint64(inventory.sequence))
                              .integer(3, inventory.time)
                              .run();
        ok = newer >= 0;
        if (newer <= 0)
            continue;
        ok = forget.text(1, report.desktop).run() >= 0;
        for (const QString &rpm : inventory.packages) {
            const TaskPackage package(rpm);
            ok = ok && installed.text(1, report.desktop)
                               .text(2, package.name)
                               .text(3, package.version + QLatin1Char('-') + package.release)
                               .run() >= 0;
        }
    }
    if (ok && resultDays > 0)
        ok = expire.integer(1, latest - qint64(resultDays) * 86400).run() >= 0;
    if (!ok) {
        *error = QString::fromUtf8(sqlite3_errmsg(m_db));
        QString ignored;
        exec("ROLLBACK", &ignored);
        return false;
    }
    return exec("COMMIT", error);
}
