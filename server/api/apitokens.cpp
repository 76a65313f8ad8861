#include "api/apitokens.h"

#include "fleet/fleetdatabase.h"
#include "fleet/fleetreport.h"
#include "fleet/fleetstatement.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRegularExpression>

#include <cstdio>
#include <sqlite3.h>
#include <sys/random.h>

namespace
{

const QString Prefix = QStringLiteral("cvt_");

QByteArray digestOf(const QByteArray &token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

// Looks at every byte whatever differs first.
bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char differ = 0;
    for (int i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

// A transaction with the audit row of what it did, or nothing at all.
bool audited(sqlite3 *db, const std::function<QString()> &change, const FleetAudit::Actor &actor,
             const QString &action, qint64 now, QString *error)
{
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    *error = change();
    const bool changed = error->isEmpty();
    if (!changed)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    const bool recorded =
        FleetAudit::record(db, actor, action, changed ? QStringLiteral("ok") : *error, now);
    if (changed && recorded && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (changed) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return false;
}

} // namespace

bool ApiTokens::Grant::covers(const QString &group) const
{
    return role == Role::Admin || groups.contains(QStringLiteral("*")) || groups.contains(group);
}

bool ApiTokens::Grant::coversAll(const QStringList &wanted) const
{
    if (role == Role::Admin || groups.contains(QStringLiteral("*")))
        return true;
    if (wanted.isEmpty())
        return false;
    for (const QString &group : wanted)
        if (!groups.contains(group))
            return false;
    return true;
}

QString ApiTokens::roleName(Role role)
{
    switch (role) {
    case Role::Viewer:
        return QStringLiteral("viewer");
    case Role::Operator:
        return QStringLiteral("operator");
    case Role::Admin:
        return QStringLiteral("admin");
    }
    return QString();
}

std::optional<ApiTokens::Role> ApiTokens::roleOf(const QString &name)
{
    for (Role role : {Role::Viewer, Role::Operator, Role::Admin})
        if (roleName(role) == name)
            return role;
    return std::nullopt;
}

bool ApiTokens::isName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    return pattern.match(name).hasMatch();
}

std::optional<ApiTokens::Grant> ApiTokens::find(const QByteArray &token, qint64 now) const
{
    if (!token.startsWith(Prefix.toLatin1()))
        return std::nullopt;
    const QByteArray digest = digestOf(token);
    FleetStatement select(m_db, "SELECT name, digest, role, groups, expires FROM api_tokens"
                                " WHERE revoked = 0");
    std::optional<Grant> found;
    qint64 expires = 0;
    while (select.isValid() && select.next()) {
        const QByteArray stored = QByteArray::fromHex(select.textAt(1).toLatin1());
        if (sameBytes(stored, digest) && !found) {
            const std::optional<Role> role = roleOf(select.textAt(2));
            if (role)
                found = Grant{select.textAt(0), *role,
                              select.textAt(3).split(QLatin1Char(','), Qt::SkipEmptyParts)};
            expires = select.integerAt(4);
        }
    }
    if (found && expires != 0 && expires <= now)
        return std::nullopt;
    return found;
}

QString ApiTokens::issue(const Grant &grant, qint64 expires, const FleetAudit::Actor &actor,
                         qint64 now, QString *error) const
{
    unsigned char random[DigestBytes];
    if (getrandom(random, sizeof random, 0) != qint64(sizeof random)) {
        *error = QStringLiteral("no random bytes");
        return QString();
    }
    const QByteArray token =
        Prefix.toLatin1() +
        QByteArray(reinterpret_cast<const char *>(random), sizeof random).toHex();
    const QString action =
        QStringLiteral("token add %1 %2 %3")
            .arg(grant.name, roleName(grant.role), grant.groups.join(QLatin1Char(',')));
    const auto insert = [&]() -> QString {
        if (!isName(grant.name))
            return QStringLiteral("a token's name is letters, digits, \". _ -\", at most 64");
        for (const QString &group : grant.groups)
            if (group != QLatin1String("*") && !isName(group))
                return QStringLiteral("no group may be named ") + group;
        if (grant.groups.isEmpty() && grant.role != Role::Admin)
            return QStringLiteral("a viewer or operator token needs its groups");
        FleetStatement add(m_db, "INSERT OR IGNORE INTO api_tokens(name, digest, role, groups,"
                                 " created, expires) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        if (add.text(1, grant.name)
                .text(2, QString::fromLatin1(digestOf(token).toHex()))
                .text(3, roleName(grant.role))
                .text(4, grant.groups.join(QLatin1Char(',')))
                .integer(5, now)
                .integer(6, expires)
                .run() != 1)
            return QStringLiteral("a token is named %1 already").arg(grant.name);
        return QString();
    };
    return audited(m_db, insert, actor, action, now, error) ? QString::fromLatin1(token)
                                                            : QString();
}

bool ApiTokens::revoke(const QString &name, const FleetAudit::Actor &actor, qint64 now,
                       QString *error) const
{
    const auto update = [&]() -> QString {
        FleetStatement revoked(m_db, "UPDATE api_tokens SET revoked = 1 WHERE name = ?1"
                                     " AND revoked = 0");
        return revoked.text(1, name).run() == 1 ? QString()
                                                : QStringLiteral("no token is named ") + name;
    };
    return audited(m_db, update, actor, QStringLiteral("token revoke ") + name, now, error);
}

int ApiTokens::subcommand(const QStringList &positional, const QString &fleetPath)
{
    if (positional.value(0) != QLatin1String("token"))
        return -1;
    const QString verb = positional.value(1);
    const bool add =
        verb == QLatin1String("add") && (positional.size() == 5 || positional.size() == 6);
    const bool revoking = verb == QLatin1String("revoke") && positional.size() == 3;
    const bool list = verb == QLatin1String("list") && positional.size() == 2;
    if (!add && !revoking && !list) {
        std::fprintf(stderr, "catalog-server: token add NAME viewer|operator|admin GROUP,...|* "
                             "[DAYS] | token revoke NAME | token list\n");
        return 2;
    }
    FleetDatabase db;
    QString error;
    if (fleetPath.isEmpty() || !db.open(fleetPath, list, &error)) {
        std::fprintf(stderr, "catalog-server: token: %s\n",
                     fleetPath.isEmpty() ? "no fleet database (--fleet-db)"
                                         : error.toUtf8().constData());
        return 1;
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const ApiTokens tokens(db.handle());
    const FleetAudit::Actor actor = FleetAudit::Actor::local(QStringLiteral("command line"));
    if (list) {
        FleetReport::Table table{QStringLiteral("tokens"),
                                 {"name", "role", "groups", "created", "expires", "revoked"},
                                 {}};
        FleetStatement select(db.handle(),
                              "SELECT name, role, groups, datetime(created, 'unixepoch'),"
                              " CASE expires WHEN 0 THEN 'never' ELSE"
                              " datetime(expires, 'unixepoch') END, revoked FROM api_tokens"
                              " ORDER BY name");
        while (select.isValid() && select.next()) {
            QStringList row;
            for (int c = 0; c < table.columns.size(); ++c)
                row << select.textAt(c);
            table.rows << row;
        }
        const QByteArray text = FleetReport::render({table}, FleetReport::Format::Text).toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return 0;
    }
    if (revoking) {
        if (!tokens.revoke(positional[2], actor, now, &error)) {
            std::fprintf(stderr, "catalog-server: token: %s\n", error.toUtf8().constData());
            return 1;
        }
        std::printf("ok token revoke %s\n", positional[2].toUtf8().constData());
        return 0;
    }
    const std::optional<Role> role = roleOf(positional[3]);
    bool daysOk = true;
    const qint64 days = positional.size() == 6 ? positional[5].toLongLong(&daysOk) : 0;
    if (!role || !daysOk || days < 0 || days > 3650) {
        std::fprintf(stderr, "catalog-server: token: a role is viewer, operator or admin; "
                             "DAYS 1 to 3650\n");
        return 2;
    }
    const QString token = tokens.issue(
        Grant{positional[2], *role, positional[4].split(QLatin1Char(','), Qt::SkipEmptyParts)},
        days ? now + days * 86400 : 0, actor, now, &error);
    if (token.isEmpty()) {
        std::fprintf(stderr, "catalog-server: token: %s\n", error.toUtf8().constData());
        return 1;
    }
    std::printf("%s\n", token.toUtf8().constData());
    return 0;
}
