#include "rollout/rolloutbook.h"

#include "fleet/fleetstatement.h"
#include "queues/taskpackage.h"
#include "records/operationword.h"

#include <QFileInfo>
#include <QSet>

#include <unistd.h>

namespace
{

const QString Pilot = QStringLiteral("pilot");
const QString Promoted = QStringLiteral("promoted");
const QString Halted = QStringLiteral("halted");
const QString Resumed = QStringLiteral("resumed");
const QString Pulled = QStringLiteral("pulled");
const QString Superseded = QStringLiteral("superseded");
const QString DefaultGroup = QStringLiteral("default");

QString holdText(const VersionHold &hold)
{
    return hold.package + QLatin1Char(' ') + hold.group + QLatin1Char(' ') + hold.versionRelease;
}

// A transaction taken at once: the ingest and a command write the same file.
class Transaction
{
public:
    explicit Transaction(sqlite3 *db) : m_db(db)
    {
        m_open = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction()
    {
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool isOpen() const { return m_open; }
    void rollback()
    {
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        m_open = false;
    }
    bool commit()
    {
        m_open = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK;
        return !m_open;
    }

private:
    sqlite3 *const m_db;
    bool m_open = false;
};

} // namespace

RolloutBook::RolloutBook(RolloutPolicy policy, QStringList groups, GroupOf groupOf, Log log)
    : m_policy(std::move(policy)), m_groups(groups + QStringList{DefaultGroup}),
      m_groupOf(std::move(groupOf)), m_log(std::move(log))
{
}

bool RolloutBook::open(const QString &database, QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_db.open(database, false, error);
}

QVector<RolloutBook::Rollout> RolloutBook::underWay() const
{
    return underWayIn(m_db.handle());
}

QVector<RolloutBook::Rollout> RolloutBook::underWayIn(sqlite3 *db)
{
    QVector<Rollout> rollouts;
    FleetStatement select(db, "SELECT package, version, previous, pilots, groups, started, state,"
                              " ifnull(delay, -1) FROM rollouts WHERE state IN ('pilot', 'halted')"
                              " ORDER BY package");
    while (select.next())
        rollouts << Rollout{select.textAt(0),
                            select.textAt(1),
                            select.textAt(2),
                            select.textAt(3).split(QLatin1Char(' '), Qt::SkipEmptyParts),
                            select.textAt(4).split(QLatin1Char(' '), Qt::SkipEmptyParts),
                            select.integerAt(5),
                            select.textAt(6),
                            select.integerAt(7)};
    return rollouts;
}

void RolloutBook::start(const QString &package, const QString &previous, const QString &version,
                        qint64 now, const QString &severity)
{
    const qint64 delay = m_policy.stageDelay(severity);
    QStringList held;
    for (const QString &group : m_groups)
        if (!m_policy.pilots().contains(group) && !held.contains(group))
            held << group;
    FleetStatement insert(m_db.handle(),
                          "INSERT OR REPLACE INTO rollouts(package, version, previous, pilots,"
                          " groups, started, state, changed, reason, delay, severity)"
                          " VALUES(?1, ?2, ?3, ?4, ?5, ?6, 'pilot', ?6, 'new in the repository',"
                          " ?7, ?8)");
    insert.text(1, package)
        .text(2, version)
        .text(3, previous)
        .text(4, m_policy.pilots().join(QLatin1Char(' ')))
        .text(5, held.join(QLatin1Char(' ')))
        .integer(6, now)
        .integer(7, delay)
        .text(8, severity)
        .run();
    ++m_changes;
    m_log(false, QStringLiteral("rollout of %1 %2 started: %3 get it, %4 stay on %5")
                         .arg(package, version, m_policy.pilots().join(QLatin1Char(' ')),
                              held.join(QLatin1Char(' ')), previous) +
                     (severity.isEmpty() ? QString()
                                         : QStringLiteral(" (fixes a %1 security advisory: "
                                                          "stage delay %2 s)")
                                               .arg(severity)
                                               .arg(delay)));
}

bool RolloutBook::setState(const Rollout &rollout, const QString &state, const QString &reason,
                           qint64 now)
{
    FleetStatement update(m_db.handle(), "UPDATE rollouts SET state = ?3, changed = ?4, reason = ?5"
                                         " WHERE package = ?1 AND version = ?2 AND state = ?6");
    update.text(1, rollout.package)
        .text(2, rollout.version)
        .text(3, state)
        .integer(4, now)
        .text(5, reason)
        .text(6, rollout.state);
    if (update.run() != 1)
        return false;
    ++m_changes;
    m_log(state == Halted || state == Pulled,
          QStringLiteral("rollout of %1 %2 %3: %4")
              .arg(rollout.package, rollout.version, state, reason));
    return true;
}

bool RolloutBook::settle(const Rollout &rollout, const QString &state, const QString &reason,
                         qint64 now)
{
    Transaction transaction(m_db.handle());
    if (!transaction.isOpen())
        return false;
    // A command from another process may have changed it since it was read: that one stands.
    return !setState(rollout, state, reason, now) || transaction.commit();
}

void RolloutBook::observe(const QHash<QString, QString> &newest, qint64 now,
                          const SecurityOf &securityOf)
{
    const auto severity = [&](const QString &package, const QString &previous,
                              const QString &version) {
        return securityOf ? securityOf(package, previous, version) : QString();
    };
    std::lock_guard<std::mutex> guard(m_lock);
    sqlite3 *const db = m_db.handle();
    Transaction transaction(db);
    if (!transaction.isOpen())
        return;
    QHash<QString, QString> seen;
    FleetStatement select(db, "SELECT package, version FROM repository_versions");
    while (select.next())
        seen.insert(select.textAt(0), select.textAt(1));
    QHash<QString, Rollout> running;
    for (const Rollout &rollout : underWay())
        running.insert(rollout.package, rollout);
    FleetStatement note(db, "INSERT OR REPLACE INTO repository_versions(package, version)"
                            " VALUES(?1, ?2)");
    for (auto it = newest.cbegin(); it != newest.cend(); ++it) {
        const QString before = seen.value(it.key());
        if (before == it.value())
            continue;
        note.text(1, it.key()).text(2, it.value()).run();
        const auto rollout = running.constFind(it.key());
        if (rollout != running.cend()) {
            if (it.value() == rollout->previous) {
                setState(*rollout, Pulled,
                         QStringLiteral("%1 no longer in the repository, every group back on %2")
                             .arg(rollout->version, it.value()),
                         now);
                continue;
            }
            // The others still have the version before the one superseded.
            setState(*rollout, Superseded, QStringLiteral("%1 followed").arg(it.value()), now);
            start(it.key(), rollout->previous, it.value(), now,
                  severity(it.key(), rollout->previous, it.value()));
        } else if (!before.isEmpty() && m_policy.isSet()) {
            // A package new to the repository has nothing to hold the others to.
            start(it.key(), before, it.value(), now, severity(it.key(), before, it.value()));
        }
    }
    FleetStatement forget(db, "DELETE FROM repository_versions WHERE package = ?1");
    for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
        if (newest.contains(it.key()))
            continue;
        forget.text(1, it.key()).run();
        const auto rollout = running.constFind(it.key());
        if (rollout != running.cend())
            setState(*rollout, Pulled, QStringLiteral("no longer in the repository"), now);
    }
    transaction.commit();
    m_due = true;
}

void RolloutBook::pilotResults(const Rollout &rollout, Tally *tally) const
{
    const QStringList operations{OperationWord::key(Operation::Install),
                                 OperationWord::key(Operation::QuickInstall),
                                 OperationWord::key(Operation::Upgrade)};
    // The package's results in the order they arrived, from the index on name (its rowids).
    FleetStatement select(m_db.handle(),
                          // The account that sent each result, not the one heard from last.
                          "SELECT r.rowid, r.address, ifnull(r.account, ''), r.oper, r.rpm, r.code"
                          " FROM results r WHERE r.name = ?1 AND r.rowid > ?2 AND r.received >= ?3"
                          " ORDER BY r.rowid");
    select.text(1, rollout.package).integer(2, tally->seen).integer(3, rollout.started);
    // A desktop counts once, by its last try: one desktop failing again and again is one
    // failure, and one that failed and then succeeded has the version.
    while (select.next()) {
        tally->seen = select.integerAt(0);
        const TaskPackage package(select.textAt(4));
        if (!operations.contains(select.textAt(3)) ||
            package.version + QLatin1Char('-') + package.release != rollout.version)
            continue;
        if (rollout.pilots.contains(m_groupOf(select.textAt(1), select.textAt(2))))
            tally->lastFailed.insert(select.textAt(1), select.integerAt(5) != 0);
    }
}

qint64 RolloutBook::dataVersion() const
{
    FleetStatement pragma(m_db.handle(), "PRAGMA data_version");
    const qint64 version = pragma.next() ? pragma.integerAt(0) : -1;
    while (pragma.next()) {
    }
    return version;
}

bool RolloutBook::poll(qint64 now)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const qint64 version = dataVersion();
    const bool delayOver = m_nextDelayEnd > 0 && now >= m_nextDelayEnd;
    if (version != m_dataVersion || m_due || delayOver) {
        m_dataVersion = version;
        m_due = false;
        m_nextDelayEnd = 0;
        // Rowids count up while a row is left; once every result expired they start again.
        FleetStatement newest(m_db.handle(), "SELECT ifnull(max(rowid), 0) FROM results");
        const qint64 last = newest.next() ? newest.integerAt(0) : 0;
        while (newest.next()) {
        }
        QHash<QString, Tally> tallies;
        for (const Rollout &rollout : underWay()) {
            if (rollout.state != Pilot)
                continue;
            const QString key = rollout.package + QLatin1Char(' ') + rollout.version +
                                QLatin1Char(' ') + QString::number(rollout.started);
            Tally tally = m_tallies.value(key);
            if (tally.seen > last)
                tally = Tally();
            pilotResults(rollout, &tally);
            const int tried = tally.lastFailed.size();
            int failed = 0;
            for (const bool failure : qAsConst(tally.lastFailed))
                failed += failure ? 1 : 0;
            tallies.insert(key, tally);
            const qint64 end =
                rollout.started + (rollout.delay >= 0 ? rollout.delay : m_policy.stageDelay());
            bool settled = true;
            if (m_policy.halts(failed, tried))
                settled = settle(rollout, Halted,
                                 QStringLiteral("%1 of %2 pilot desktops failed to install it "
                                                "(halt-failures %3); the others stay on %4")
                                     .arg(failed)
                                     .arg(tried)
                                     .arg(m_policy.threshold(), rollout.previous),
                                 now);
            else if (now >= end)
                settled =
                    settle(rollout, Promoted,
                           QStringLiteral("the stage delay has passed, every group gets it"), now);
            else
                m_nextDelayEnd = m_nextDelayEnd ? qMin(m_nextDelayEnd, end) : end;
            // Busy for longer than the timeout: again at the next look.
            m_due = m_due || !settled;
        }
        m_tallies = tallies;
    }
    QStringList current;
    for (const VersionHold &hold : load())
        current << holdText(hold);
    return current != m_given;
}

VersionHolds RolloutBook::load() const
{
    return holdsIn(m_db.handle());
}

VersionHolds RolloutBook::holdsIn(sqlite3 *db)
{
    VersionHolds holds;
    for (const Rollout &rollout : underWayIn(db))
        for (const QString &group : rollout.groups)
            holds << VersionHold{rollout.package, group, rollout.previous};
    return holds;
}

VersionHolds RolloutBook::holds()
{
    std::lock_guard<std::mutex> guard(m_lock);
    const VersionHolds holds = load();
    m_given.clear();
    for (const VersionHold &hold : holds)
        m_given << holdText(hold);
    return holds;
}

QString RolloutBook::transition(sqlite3 *db, const QString &verb, const QString &package,
                                qint64 now)
{
    const bool promote = verb == QLatin1String("promote");
    const bool halt = verb == QLatin1String("halt");
    if (!promote && !halt && verb != QLatin1String("resume"))
        return QStringLiteral("error unknown rollout command %1").arg(verb);
    FleetStatement select(db, "SELECT version, state FROM rollouts WHERE package = ?1"
                              " AND state IN ('pilot', 'halted')");
    select.text(1, package);
    if (!select.next())
        return QStringLiteral("error %1 %2: no rollout of it under way").arg(verb, package);
    const QString version = select.textAt(0);
    const QString state = select.textAt(1);
    while (select.next()) {
    }
    if (promote && state == Halted)
        return QStringLiteral("error promote %1: %2 is halted, resume %1 releases it")
            .arg(package, version);
    if (!promote && !halt && state != Halted)
        return QStringLiteral("error resume %1: %2 is not halted").arg(package, version);
    if (halt && state == Halted)
        return QStringLiteral("error halt %1: %2 is halted already").arg(package, version);
    const QString next = promote ? Promoted : halt ? Halted : Resumed;
    FleetStatement update(db, "UPDATE rollouts SET state = ?3, changed = ?4, reason = ?5"
                              " WHERE package = ?1 AND version = ?2");
    update.text(1, package)
        .text(2, version)
        .text(3, next)
        .integer(4, now)
        .text(5, next + QStringLiteral(" by the administrator"));
    if (update.run() != 1)
        return QStringLiteral("error %1: %2").arg(verb, QString::fromUtf8(sqlite3_errmsg(db)));
    return halt ? QStringLiteral("ok halt %1 %2: groups besides the pilots stay held")
                      .arg(package, version)
                : QStringLiteral("ok %1 %2 %3: every group gets it").arg(verb, package, version);
}

QString RolloutBook::change(sqlite3 *db, const QString &verb, const QString &package, qint64 now,
                            const FleetAudit::Actor &actor)
{
    Transaction transaction(db);
    if (!transaction.isOpen())
        return QStringLiteral("error %1: %2").arg(verb, QString::fromUtf8(sqlite3_errmsg(db)));
    const QString answer = transition(db, verb, package, now);
    const bool changed = answer.startsWith(QLatin1String("ok "));
    // A refused command is logged too; a change only together with its row.
    if (!changed)
        transaction.rollback();
    if (!FleetAudit::record(db, actor, verb + QLatin1Char(' ') + package, answer, now) ||
        (changed && !transaction.commit()))
        return QStringLiteral("error %1: %2").arg(verb, QString::fromUtf8(sqlite3_errmsg(db)));
    return answer;
}

QString RolloutBook::command(const QString &verb, const QString &package, qint64 now,
                             const FleetAudit::Actor &actor)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_due = true;
    return change(m_db.handle(), verb, package, now, actor);
}

QString RolloutBook::command(const QString &database, const QString &verb, const QString &package,
                             qint64 now, const FleetAudit::Actor &actor)
{
    // SQLite would open a file it may not write read-only and fail later: say why first. The
    // folder too, where the journal files are made.
    const QFileInfo file(database);
    if (!file.exists())
        return QStringLiteral("error %1: no fleet database %2").arg(verb, database);
    if (::access(QFile::encodeName(database).constData(), W_OK) != 0 ||
        ::access(QFile::encodeName(file.absolutePath()).constData(), W_OK) != 0)
        return QStringLiteral("error %1: only the service's account may change rollouts, and "
                              "this account cannot write %2")
            .arg(verb, database);
    sqlite3 *db = nullptr;
    QString answer;
    if (sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK ||
        sqlite3_db_readonly(db, "main") != 0) {
        answer = QStringLiteral("error %1: %2 cannot be written").arg(verb, database);
    } else {
        sqlite3_busy_timeout(db, 10000);
        answer = change(db, verb, package, now, actor);
    }
    sqlite3_close(db);
    return answer;
}
