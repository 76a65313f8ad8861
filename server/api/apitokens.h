#pragma once

#include "fleet/fleetaudit.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

struct sqlite3;

// The API's tokens, kept in the fleet database as SHA-256 digests only: a token is 256
// random bits, shown once when issued. Each has a role and the groups it covers ("*" every
// group). A viewer reads; an operator acts on its groups' rollouts and pushes; an admin
// manages tokens and may do anything. Issuing and revoking are audited in their own
// transaction.
class ApiTokens
{
public:
    enum class Role { Viewer = 0, Operator = 1, Admin = 2 };
    struct Grant {
        QString name;
        Role role = Role::Viewer;
        QStringList groups;
        bool covers(const QString &group) const;
        // Every one of groups (none: true only for an admin or "*").
        bool coversAll(const QStringList &groups) const;
    };
    static constexpr int DigestBytes = 32;

    static QString roleName(Role role);
    static std::optional<Role> roleOf(const QString &name);
    // A token's or group's name: letters, digits, ". _ -", at most 64.
    static bool isName(const QString &name);

    explicit ApiTokens(sqlite3 *db) : m_db(db) {}

    // The holder of token, when it is issued, unrevoked and not expired at now. Every
    // digest is compared in full, so the time taken says nothing of how close a guess was.
    std::optional<Grant> find(const QByteArray &token, qint64 now) const;
    // A new token (empty with *error set: a taken name, a wrong role or group). expires: a
    // time, 0 for never.
    QString issue(const Grant &grant, qint64 expires, const FleetAudit::Actor &actor, qint64 now,
                  QString *error) const;
    bool revoke(const QString &name, const FleetAudit::Actor &actor, qint64 now,
                QString *error) const;

    // "token add NAME ROLE GROUPS [DAYS]", "token revoke NAME", "token list" as a
    // sub-command: its exit status; -1 when the arguments are something else.
    static int subcommand(const QStringList &positional, const QString &fleetPath);

private:
    sqlite3 *const m_db;
};
