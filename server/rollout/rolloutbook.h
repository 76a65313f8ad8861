#pragma once

#include "fleet/fleetaudit.h"
#include "fleet/fleetdatabase.h"
#include "repository/versionhold.h"
#include "rollout/rolloutpolicy.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>

// The staged rollouts, kept in the fleet database so a restart and the report see them. A
// package whose newest version-release changes starts one: the pilot groups get the new
// version, every other group is held to the previous one until the stage delay has passed or
// an administrator promotes it. The pilot desktops' failures with the new version halt it
// (the others stay held) until it is resumed. A version the repository takes back ends it.
// Every call takes the clock as now, so the stages are tested without waiting.
class RolloutBook
{
public:
    // The group of a desktop, as the server decides it from who speaks.
    using GroupOf = std::function<QString(const QString &address, const QString &account)>;
    // warning: a halt or a version taken back, which the administrator should see.
    using Log = std::function<void(bool warning, const QString &line)>;
    // The gravest severity of the security advisories a package's move from previous to
    // version fixes; "" when none.
    using SecurityOf = std::function<QString(const QString &package, const QString &previous,
                                             const QString &version)>;

    // groups: the groups the configuration names; "default" is always among them.
    RolloutBook(RolloutPolicy policy, QStringList groups, GroupOf groupOf, Log log);

    // A connection of its own to the fleet database, created when missing.
    bool open(const QString &database, QString *error);

    // The newest version-release of each package in the repository, as just read; a rollout
    // of a security fix waits the policy's delay for its severity.
    void observe(const QHash<QString, QString> &newest, qint64 now,
                 const SecurityOf &securityOf = SecurityOf());
    // Halts on pilot failures and promotes after the stage delay, when results came in, a
    // command changed the database or a delay ran out since the last look. True when the
    // holds now differ from those holds() last gave.
    bool poll(qint64 now);
    VersionHolds holds();
    // The holds the rollouts under way in db keep (a report's read-only connection).
    static VersionHolds holdsIn(sqlite3 *db);
    // How many rollouts this book started or changed (a page to write again).
    quint64 changes() const { return m_changes; }

    // "promote PACKAGE", "resume PACKAGE" or "halt PACKAGE" on the service's own connection:
    // one line, "ok ..." or "error ...", in the audit log as actor's in the change's own
    // transaction.
    QString command(const QString &verb, const QString &package, qint64 now,
                    const FleetAudit::Actor &actor = FleetAudit::Actor::local("console"));
    // The same from another process. Only an account that may write the database (the
    // service's) changes anything; any other is told so.
    static QString command(const QString &database, const QString &verb, const QString &package,
                           qint64 now,
                           const FleetAudit::Actor &actor = FleetAudit::Actor::local("console"));

private:
    struct Rollout {
        QString package;
        QString version;
        QString previous;
        QStringList pilots;
        QStringList groups; // held while the rollout is under way
        qint64 started = 0;
        QString state;
        qint64 delay = -1; // its pilot stage; -1: the policy's (started before delays were kept)
    };
    // The pilot desktops' last tries of a rollout's version, read up to a result's rowid.
    struct Tally {
        qint64 seen = 0;
        QHash<QString, bool> lastFailed; // by desktop
    };
    // The state a command moves the rollout to, inside the caller's transaction.
    static QString transition(sqlite3 *db, const QString &verb, const QString &package, qint64 now);
    static QString change(sqlite3 *db, const QString &verb, const QString &package, qint64 now,
                          const FleetAudit::Actor &actor);
    QVector<Rollout> underWay() const;
    static QVector<Rollout> underWayIn(sqlite3 *db);
    void start(const QString &package, const QString &previous, const QString &version, qint64 now,
               const QString &severity);
    // From the state the rollout was read in only; false when it was no longer in it.
    bool setState(const Rollout &rollout, const QString &state, const QString &reason, qint64 now);
    // The same in a transaction of its own.
    bool settle(const Rollout &rollout, const QString &state, const QString &reason, qint64 now);
    // Adds the results that arrived since the tally's last look.
    void pilotResults(const Rollout &rollout, Tally *tally) const;
    VersionHolds load() const;
    qint64 dataVersion() const;

    const RolloutPolicy m_policy;
    const QStringList m_groups;
    const GroupOf m_groupOf;
    const Log m_log;
    FleetDatabase m_db;
    std::mutex m_lock;
    qint64 m_dataVersion = -1;
    qint64 m_nextDelayEnd = 0; // when a pilot stage ends next; 0: none under way
    bool m_due = true;         // the service's own command changed the database
    QStringList m_given;       // the holds last given, as text
    // Per rollout under way (package, version and start); read from the database once, then
    // only what arrives, outside any write transaction.
    QHash<QString, Tally> m_tallies;
    std::atomic<quint64> m_changes{0};
};
