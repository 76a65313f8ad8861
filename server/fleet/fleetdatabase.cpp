#include "fleet/fleetdatabase.h"

#include "fleet/fleetstatement.h"
#include "queues/taskpackage.h"
#include "storage/schemaversion.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

namespace
{

// The repository's advisories when last read, and the version-release of each package that
// carries each one's fix.
#define ADVISORY_TABLES                                                                            \
    "CREATE TABLE IF NOT EXISTS advisories(id TEXT PRIMARY KEY, type TEXT, severity TEXT,"         \
    " issued INTEGER, title TEXT, cves TEXT) WITHOUT ROWID;"                                       \
    "CREATE TABLE IF NOT EXISTS advisory_packages(advisory TEXT, package TEXT, version TEXT,"      \
    " PRIMARY KEY(advisory, package, version)) WITHOUT ROWID;"                                     \
    "CREATE INDEX IF NOT EXISTS advisory_packages_package ON advisory_packages(package);"

const char *const Schema =
    // results_day, results_today: the server's day (received / 86400) and the results kept of
    // it; results_dropped: those over the bound since; unknown_packages: names of the last
    // inventory the repository does not offer.
    "CREATE TABLE IF NOT EXISTS desktops(address TEXT PRIMARY KEY, account TEXT,"
    " first_seen INTEGER, last_seen INTEGER, sequence INTEGER, inventory_time INTEGER,"
    " results_day INTEGER DEFAULT 0, results_today INTEGER DEFAULT 0,"
    " results_dropped INTEGER DEFAULT 0, unknown_packages INTEGER DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS installed(address TEXT, name TEXT, version TEXT,"
    " PRIMARY KEY(address, name)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS installed_name ON installed(name, version);"
    // account: who sent the result (a desktop's address may be reported from two accounts).
    "CREATE TABLE IF NOT EXISTS results(address TEXT, report TEXT, time INTEGER,"
    " received INTEGER, oper TEXT, rpm TEXT, name TEXT, code INTEGER, echo TEXT,"
    " account TEXT, PRIMARY KEY(address, report));"
    // A staged rollout per package and new version; state: pilot, promoted, halted, resumed,
    // pulled (the repository took it back) or superseded (a newer one followed); delay: its
    // pilot stage in seconds, shorter for a security fix of severity.
    "CREATE TABLE IF NOT EXISTS rollouts(package TEXT, version TEXT, previous TEXT,"
    " pilots TEXT, groups TEXT, started INTEGER, state TEXT, changed INTEGER, reason TEXT,"
    " delay INTEGER, severity TEXT, PRIMARY KEY(package, version));"
    // The newest version-release of each package the repository offered when last read.
    "CREATE TABLE IF NOT EXISTS repository_versions(package TEXT PRIMARY KEY, version TEXT)"
    " WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS results_received ON results(received);"
    "CREATE INDEX IF NOT EXISTS results_name ON results(name);" ADVISORY_TABLES;

// The audit log, its rows kept as written (only the retention removes a day-old one), and
// the API's tokens, each kept as its digest.
const char *const AuditSchema =
    "CREATE TABLE IF NOT EXISTS audit(id INTEGER PRIMARY KEY, time INTEGER, who TEXT,"
    " origin TEXT, action TEXT, result TEXT);"
    "CREATE INDEX IF NOT EXISTS audit_time ON audit(time);"
    "CREATE TRIGGER IF NOT EXISTS audit_kept BEFORE UPDATE ON audit BEGIN"
    " SELECT RAISE(ABORT, 'audit rows are kept as written'); END;"
    "CREATE TRIGGER IF NOT EXISTS audit_retained BEFORE DELETE ON audit"
    " WHEN old.time > CAST(strftime('%s', 'now') AS INTEGER) - 86400 BEGIN"
    " SELECT RAISE(ABORT, 'audit rows are kept for their retention'); END;"
    "CREATE TABLE IF NOT EXISTS api_tokens(name TEXT PRIMARY KEY, digest BLOB UNIQUE,"
    " role TEXT, groups TEXT, created INTEGER, expires INTEGER, revoked INTEGER DEFAULT 0);";

// 1: desktops, installed and results; 2: rollouts and repository_versions added; 3: the
// account of each result; 4: each desktop's bounds; 5: operations by key, not by label; 6:
// advisories, and each rollout's delay; 7: the audit log and the API's tokens.
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
         },
         [](sqlite3 *db, QString *) {
             // An inventory dated far ahead froze its desktop's: the next one counts again.
             return SchemaVersion::exec(
                 db, "ALTER TABLE desktops ADD COLUMN results_day INTEGER DEFAULT 0;"
                     "ALTER TABLE desktops ADD COLUMN results_today INTEGER DEFAULT 0;"
                     "ALTER TABLE desktops ADD COLUMN results_dropped INTEGER DEFAULT 0;"
                     "ALTER TABLE desktops ADD COLUMN unknown_packages INTEGER DEFAULT 0;"
                     "UPDATE desktops SET inventory_time = last_seen"
                     " WHERE inventory_time > last_seen + 3600;");
         },
         [](sqlite3 *db, QString *) {
             // Results stored before name their operation by the store's button label.
             return SchemaVersion::exec(
                 db, "UPDATE results SET oper = CASE oper WHEN '安装' THEN 'install'"
                     " WHEN '一键安装' THEN 'quick-install' WHEN '下载' THEN 'download'"
                     " WHEN '升级' THEN 'upgrade' WHEN '卸载' THEN 'remove' ELSE oper END;");
         },
         [](sqlite3 *db, QString *) {
             // Rollouts started before keep the stage delay of the configuration (NULL).
             return SchemaVersion::exec(
                 db, "ALTER TABLE rollouts ADD COLUMN delay INTEGER;"
                     "ALTER TABLE rollouts ADD COLUMN severity TEXT;" ADVISORY_TABLES);
         },
         [](sqlite3 *db, QString *) { return SchemaVersion::exec(db, AuditSchema); }});
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
            m_db,
            [](sqlite3 *db, QString *) {
                return SchemaVersion::exec(db, Schema) && SchemaVersion::exec(db, AuditSchema);
            },
            &why);
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
    // A checkpoint leaves the WAL file at most this large, however long a burst made it.
    return exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                " PRAGMA journal_size_limit=67108864;",
                error);
}

const QSet<QString> &FleetDatabase::offered()
{
    FleetStatement version(m_db, "PRAGMA data_version");
    const qint64 now = version.next() ? version.integerAt(0) : -1;
    while (version.next()) {
    }
    if (now == m_offeredVersion && now >= 0)
        return m_offered;
    m_offered.clear();
    FleetStatement select(m_db, "SELECT package FROM repository_versions");
    while (select.next())
        m_offered.insert(select.textAt(0));
    m_offeredVersion = now;
    return m_offered;
}

bool FleetDatabase::store(const QVector<Report> &batch, int resultDays, QString *error)
{
    if (!exec("BEGIN IMMEDIATE", error))
        return false;
    FleetStatement seen(m_db,
                        "INSERT INTO desktops(address, account, first_seen, last_seen, sequence,"
                        " inventory_time) VALUES(?1, ?2, ?3, ?3, NULL, 0) ON CONFLICT(address) DO"
                        " UPDATE SET last_seen = max(last_seen, ?3), account = ?2");
    // Kept only while the desktop's day is under its bound.
    FleetStatement result(m_db,
                          "INSERT OR IGNORE INTO results(address, report, time, received,"
                          " oper, rpm, name, code, echo, account)"
                          " SELECT ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10 FROM desktops"
                          " WHERE address = ?1 AND (results_day <> ?11 OR results_today < ?12)");
    FleetStatement kept(m_db, "UPDATE desktops SET results_today = CASE WHEN results_day = ?2"
                              " THEN results_today + 1 ELSE 1 END, results_day = ?2"
                              " WHERE address = ?1");
    // A report sent again is not one more over the bound.
    FleetStatement dropped(m_db, "UPDATE desktops SET results_dropped = results_dropped + 1"
                                 " WHERE address = ?1 AND results_day = ?2 AND results_today >= ?3"
                                 " AND NOT EXISTS(SELECT 1 FROM results WHERE address = ?1"
                                 " AND report = ?4)");
    FleetStatement fresher(m_db, "UPDATE desktops SET sequence = ?2, inventory_time = ?3"
                                 " WHERE address = ?1 AND inventory_time <= ?3");
    FleetStatement forget(m_db, "DELETE FROM installed WHERE address = ?");
    FleetStatement installed(m_db, "INSERT OR REPLACE INTO installed(address, name, version)"
                                   " VALUES(?, ?, ?)");
    FleetStatement unknown(m_db, "UPDATE desktops SET unknown_packages = ?2 WHERE address = ?1");
    FleetStatement expire(m_db, "DELETE FROM results WHERE received < ?");
    bool ok = seen.isValid() && result.isValid() && kept.isValid() && dropped.isValid() &&
              fresher.isValid() && forget.isValid() && installed.isValid() && unknown.isValid() &&
              expire.isValid();
    const QSet<QString> &names = offered();
    // A server that follows no repository cannot tell an invented name: it keeps them all.
    const bool checkNames = !names.isEmpty();
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
            const qint64 day = report.received / 86400;
            const int stored = result.text(1, report.desktop)
                                   .text(2, r.id)
                                   .integer(3, r.time)
                                   .integer(4, report.received)
                                   .text(5, r.oper)
                                   .text(6, r.rpm)
                                   .text(7, TaskPackage(r.rpm).name)
                                   .integer(8, r.code)
                                   .text(9, r.echo)
                                   .text(10, report.account)
                                   .integer(11, day)
                                   .integer(12, ResultsPerDay)
                                   .run();
            if (stored > 0)
                ok = kept.text(1, report.desktop).integer(2, day).run() >= 0;
            else
                ok = stored == 0 && dropped.text(1, report.desktop)
                                            .integer(2, day)
                                            .integer(3, ResultsPerDay)
                                            .text(4, r.id)
                                            .run() >= 0;
            continue;
        }
        const ReportFrame::Inventory &inventory = report.frame.inventory();
        // Dated ahead of the server's clock, it would make every honest one after it "older".
        const qint64 time =
            inventory.time > report.received + ClockSkew ? report.received : inventory.time;
        // An inventory older than the one kept (sent again late) changes nothing.
        const int newer = fresher.text(1, report.desktop)
                              .integer(2, qint64(inventory.sequence))
                              .integer(3, time)
                              .run();
        ok = newer >= 0;
        if (newer <= 0)
            continue;
        ok = forget.text(1, report.desktop).run() >= 0;
        int unknownNames = 0;
        for (const QString &rpm : inventory.packages) {
            const TaskPackage package(rpm);
            if (checkNames && !names.contains(package.name) && ++unknownNames > UnknownPackages)
                continue;
            ok = ok && installed.text(1, report.desktop)
                               .text(2, package.name)
                               .text(3, package.version + QLatin1Char('-') + package.release)
                               .run() >= 0;
        }
        ok = ok && unknown.text(1, report.desktop).integer(2, unknownNames).run() >= 0;
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
