#pragma once

#include <QString>

#include <mutex>

struct sqlite3;

// The audit log in the fleet database: every change (an API call, a sub-command, a console
// line) with who made it, when, from where, what and the result. Rows are only added: the
// database's triggers refuse to change one, or to remove one younger than a day, so only the
// retention (audit_days) takes them away.
class FleetAudit
{
public:
    struct Actor {
        QString who;    // a token's name, or the local account
        QString origin; // the client's address, "console" or "command line"
        // The account this process runs as, at origin.
        static Actor local(const QString &origin);
    };
    static constexpr int DefaultDays = 365;

    // Adds the row on db inside the caller's transaction; false when it could not.
    static bool record(sqlite3 *db, const Actor &actor, const QString &action,
                       const QString &result, qint64 now);

    // A connection of its own for changes that touch no other table (pushes, a re-read, a
    // refusal). days: the retention.
    bool open(const QString &database, int days, QString *error);
    // The row in a transaction of its own, rows past the retention removed in it.
    bool record(const Actor &actor, const QString &action, const QString &result);
    bool isOpen() const { return m_db != nullptr; }

    FleetAudit() = default;
    ~FleetAudit();
    FleetAudit(const FleetAudit &) = delete;
    FleetAudit &operator=(const FleetAudit &) = delete;

private:
    std::mutex m_lock;
    sqlite3 *m_db = nullptr;
    int m_days = DefaultDays;
};
