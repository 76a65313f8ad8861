#include "api/apirouter.h"

#include "api/apipages.h"
#include "fleet/fleetreport.h"
#include "fleet/fleetstatement.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace
{

using Role = ApiTokens::Role;

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

ApiRouter::Response json(int status, const QJsonObject &object)
{
    return {status,
            "application/json",
            QJsonDocument(object).toJson(QJsonDocument::Compact),
            {},
            false};
}

ApiRouter::Response failure(int status, const QString &why)
{
    return json(status, {{QStringLiteral("error"), why}});
}

// A path segment the routes may name: a package (rpm's characters), a desktop's address, a
// group or token name.
bool isSegment(const QString &segment)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._+:-]{1,255}$"));
    return pattern.match(segment).hasMatch() && segment != QLatin1String(".") &&
           segment != QLatin1String("..");
}

bool matches(const QStringList &pattern, const QStringList &segments)
{
    if (pattern.size() != segments.size())
        return false;
    for (int i = 0; i < pattern.size(); ++i)
        if (pattern[i] != QLatin1String("*") && pattern[i] != segments[i])
            return false;
    return true;
}

// The report tables each read route gives, picked from the report by name.
QVector<FleetReport::Table> tablesOf(const FleetReport &report, const QStringList &segments)
{
    const QString &kind = segments[2];
    if (segments.size() == 4)
        return kind == QLatin1String("desktops") ? report.desktop(segments[3])
                                                 : report.package(segments[3]);
    if (kind == QLatin1String("rollouts"))
        return report.rollouts();
    if (kind == QLatin1String("audit"))
        return report.audit();
    if (kind == QLatin1String("desktops"))
        return report.desktops();
    QVector<FleetReport::Table> tables = report.summary();
    if (kind == QLatin1String("summary"))
        return tables;
    const QString wanted = kind == QLatin1String("packages") ? QStringLiteral("packages")
                                                             : QStringLiteral("failures of the "
                                                                              "last day");
    for (const FleetReport::Table &table : tables)
        if (table.name == wanted)
            return {table};
    return {};
}

} // namespace

const QVector<ApiRouter::Route> &ApiRouter::routes()
{
    static const QVector<Route> all{
        {"GET", {"api", "v1", "summary"}, Role::Viewer, false, false, &ApiRouter::reports},
        {"GET", {"api", "v1", "desktops"}, Role::Viewer, false, false, &ApiRouter::reports},
        {"GET", {"api", "v1", "packages"}, Role::Viewer, false, false, &ApiRouter::reports},
        {"GET", {"api", "v1", "results"}, Role::Viewer, false, false, &ApiRouter::reports},
        {"GET", {"api", "v1", "rollouts"}, Role::Viewer, false, false, &ApiRouter::reports},
        {"GET", {"api", "v1", "audit"}, Role::Viewer, false, false, &ApiRouter::reports},
        {"GET", {"api", "v1", "desktops", "*"}, Role::Viewer, false, false, &ApiRouter::reports},
        {"GET", {"api", "v1", "packages", "*"}, Role::Viewer, false, false, &ApiRouter::reports},
        {"GET", {"api", "v1", "groups"}, Role::Viewer, false, false, &ApiRouter::groups},
        {"GET", {"api", "v1", "tokens"}, Role::Admin, false, false, &ApiRouter::tokens},
        {"POST", {"api", "v1", "tokens"}, Role::Admin, true, false, &ApiRouter::issue},
        {"DELETE", {"api", "v1", "tokens", "*"}, Role::Admin, true, false, &ApiRouter::revoke},
        {"POST",
         {"api", "v1", "rollouts", "*", "promote"},
         Role::Operator,
         true,
         false,
         &ApiRouter::rollout},
        {"POST",
         {"api", "v1", "rollouts", "*", "resume"},
         Role::Operator,
         true,
         false,
         &ApiRouter::rollout},
        {"POST",
         {"api", "v1", "rollouts", "*", "halt"},
         Role::Operator,
         true,
         false,
         &ApiRouter::rollout},
        {"POST",
         {"api", "v1", "groups", "*", "push"},
         Role::Operator,
         true,
         false,
         &ApiRouter::push},
        {"POST",
         {"api", "v1", "repository", "reread"},
         Role::Operator,
         true,
         false,
         &ApiRouter::reread},
        {"GET", {"status"}, Role::Viewer, false, true, &ApiRouter::page},
        {"GET", {"status", "desktops", "*"}, Role::Viewer, false, true, &ApiRouter::page},
        {"GET", {"status", "rollouts", "*"}, Role::Viewer, false, true, &ApiRouter::page},
    };
    return all;
}

ApiRouter::ApiRouter(Act act, GroupOf groupOf, QStringList groups, FleetAudit *audit, double rate,
                     double burst)
    : m_act(std::move(act)), m_groupOf(std::move(groupOf)), m_groups(std::move(groups)),
      m_audit(audit), m_limit(rate, burst)
{
}

bool ApiRouter::open(const QString &database, QString *error)
{
    return m_db.open(database, false, error);
}

std::optional<ApiTokens::Grant> ApiRouter::holder(const QByteArray &credentials) const
{
    QByteArray token;
    if (credentials.startsWith("Bearer ")) {
        token = credentials.mid(7).trimmed();
    } else if (credentials.startsWith("Basic ")) {
        // A browser's: any user name, the token as the password.
        const QByteArray pair = QByteArray::fromBase64(credentials.mid(6).trimmed());
        token = pair.mid(pair.indexOf(':') + 1);
    }
    return ApiTokens(m_db.handle()).find(token, now());
}

ApiRouter::Response ApiRouter::handle(const Request &request)
{
    // Tokens never travel in a URL, where logs and histories keep them.
    if (request.hasQuery)
        return failure(400, QStringLiteral("no query parameters: a token goes in the "
                                           "Authorization header"));
    if (!request.path.startsWith(QLatin1Char('/')) || request.path.size() > 1024)
        return failure(400, QStringLiteral("bad path"));
    const QStringList segments = request.path.mid(1).split(QLatin1Char('/'));
    for (const QString &segment : segments)
        if (!isSegment(segment))
            return failure(400, QStringLiteral("bad path"));
    const Route *found = nullptr;
    bool pathKnown = false;
    for (const Route &route : routes())
        if (matches(route.pattern, segments)) {
            pathKnown = true;
            if (route.method == request.method)
                found = &route;
        }
    if (!found)
        return pathKnown ? failure(405, QStringLiteral("method not allowed"))
                         : failure(404, QStringLiteral("no such resource"));
    const std::optional<ApiTokens::Grant> grant = holder(request.credentials);
    if (!grant) {
        Response response = failure(401, QStringLiteral("a valid token is needed"));
        response.askCredentials = found->page;
        return response;
    }
    if (!m_limit.take(grant->name, QDateTime::currentMSecsSinceEpoch()))
        return failure(429, QStringLiteral("too many calls: slow down"));
    Call call{request, segments, *grant, {grant->name, request.peer}, {}};
    if (request.method == "POST" && !request.body.isEmpty()) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
        if (!request.contentType.startsWith("application/json"))
            return failure(415, QStringLiteral("a body is JSON (application/json)"));
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return failure(400, QStringLiteral("the body is not a JSON object"));
        call.body = document.object();
    }
    if (grant->role < found->least)
        return found->changes ? refuse(call, QStringLiteral("a %1 token may not do this")
                                                 .arg(ApiTokens::roleName(grant->role)))
                              : failure(403, QStringLiteral("a %1 token may not do this")
                                                 .arg(ApiTokens::roleName(grant->role)));
    if (const QString why = beyond(call); !why.isEmpty())
        return failure(403, why);
    return (this->*found->handler)(call);
}

QString ApiRouter::beyond(const Call &call) const
{
    const QStringList &at = call.segments;
    // api/v1/desktops/ADDRESS and status/desktops/ADDRESS.
    const int named = at.size() - 1;
    if (named < 2 || at[named - 1] != QLatin1String("desktops") ||
        (at[0] == QLatin1String("api") && named != 3))
        return QString();
    // The account it reported from last decides, as it does for its catalog.
    FleetStatement select(m_db.handle(), "SELECT account FROM desktops WHERE address = ?1");
    select.text(1, at[named]);
    const QString account = select.isValid() && select.next() ? select.textAt(0) : QString();
    while (select.isValid() && select.next()) {
    }
    const QString group = m_groupOf(at[named], account);
    return call.grant.covers(group)
               ? QString()
               : QStringLiteral("desktop %1 is in group %2, beyond this token's groups")
                     .arg(at[named], group);
}

ApiRouter::Response ApiRouter::refuse(const Call &call, const QString &why)
{
    const QString action =
        QString::fromLatin1(call.request.method) + QLatin1Char(' ') + call.request.path;
    if (!m_audit->record(call.actor, action, QStringLiteral("refused: ") + why))
        return failure(500, QStringLiteral("the audit log cannot be written"));
    return failure(403, why);
}

ApiRouter::Response ApiRouter::acted(const QString &answer) const
{
    if (answer.startsWith(QLatin1String("ok")))
        return json(200, {{QStringLiteral("result"), answer}});
    return failure(answer.isEmpty() ? 500 : 409,
                   answer.isEmpty() ? QStringLiteral("no answer") : answer);
}

ApiRouter::Response ApiRouter::reports(const Call &call)
{
    const FleetReport report(m_db.handle(), now());
    return {
        200,
        "application/json",
        FleetReport::render(tablesOf(report, call.segments), FleetReport::Format::Json).toUtf8(),
        {},
        false};
}

ApiRouter::Response ApiRouter::groups(const Call &)
{
    const QVector<FleetReport::Table> rollouts = FleetReport(m_db.handle(), now()).rollouts();
    QJsonArray list;
    for (const QString &group : m_groups) {
        QJsonArray served;
        for (const QStringList &row : rollouts.value(1).rows)
            if (row.value(2) == group)
                served.append(QJsonObject{{QStringLiteral("package"), row.value(0)},
                                          {QStringLiteral("version"), row.value(3)}});
        list.append(QJsonObject{{QStringLiteral("name"), group},
                                {QStringLiteral("held by rollouts"), served}});
    }
    return json(200, {{QStringLiteral("groups"), list}});
}

ApiRouter::Response ApiRouter::tokens(const Call &)
{
    QJsonArray list;
    FleetStatement select(m_db.handle(), "SELECT name, role, groups, created, expires, revoked"
                                         " FROM api_tokens ORDER BY name");
    while (select.isValid() && select.next())
        list.append(QJsonObject{{QStringLiteral("name"), select.textAt(0)},
                                {QStringLiteral("role"), select.textAt(1)},
                                {QStringLiteral("groups"), select.textAt(2)},
                                {QStringLiteral("created"), select.integerAt(3)},
                                {QStringLiteral("expires"), select.integerAt(4)},
                                {QStringLiteral("revoked"), select.integerAt(5) != 0}});
    return json(200, {{QStringLiteral("tokens"), list}});
}

ApiRouter::Response ApiRouter::issue(const Call &call)
{
    const std::optional<Role> role =
        ApiTokens::roleOf(call.body.value(QStringLiteral("role")).toString());
    QStringList groups;
    for (const QJsonValue &group : call.body.value(QStringLiteral("groups")).toArray())
        groups << group.toString();
    const qint64 days = qint64(call.body.value(QStringLiteral("days")).toDouble(0));
    if (!role || days < 0 || days > 3650)
        return failure(400, QStringLiteral("role: viewer, operator or admin; days: 0 to 3650"));
    QString error;
    const QString token =
        ApiTokens(m_db.handle())
            .issue({call.body.value(QStringLiteral("name")).toString(), *role, groups},
                   days ? now() + days * 86400 : 0, call.actor, now(), &error);
    if (token.isEmpty())
        return failure(409, error);
    return json(201, {{QStringLiteral("token"), token}});
}

ApiRouter::Response ApiRouter::revoke(const Call &call)
{
    QString error;
    if (!ApiTokens(m_db.handle()).revoke(call.segments[3], call.actor, now(), &error))
        return failure(404, error);
    return json(
        200, {{QStringLiteral("result"), QStringLiteral("ok token revoke ") + call.segments[3]}});
}

ApiRouter::Response ApiRouter::rollout(const Call &call)
{
    // A rollout belongs to its pilot groups: their operators judge the new version.
    const QString &package = call.segments[3];
    FleetStatement select(m_db.handle(), "SELECT pilots FROM rollouts WHERE package = ?1"
                                         " AND state IN ('pilot', 'halted')");
    QStringList pilots;
    select.text(1, package);
    while (select.isValid() && select.next())
        pilots += select.textAt(0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString line = call.segments[4] + QLatin1Char(' ') + package;
    if (!pilots.isEmpty() && !call.grant.coversAll(pilots))
        return refuse(call, QStringLiteral("the rollout of %1 belongs to %2, beyond this token's "
                                           "groups")
                                .arg(package, pilots.join(QLatin1Char(' '))));
    return acted(m_act(line, call.actor));
}

ApiRouter::Response ApiRouter::push(const Call &call)
{
    const QString &group = call.segments[3];
    if (!call.grant.covers(group))
        return refuse(call, QStringLiteral("group %1 is beyond this token's groups").arg(group));
    const QString action = call.body.value(QStringLiteral("action")).toString();
    static const QStringList Actions{QStringLiteral("data_add_push"),
                                     QStringLiteral("data_update_push"),
                                     QStringLiteral("data_delete_push")};
    if (!Actions.contains(action))
        return failure(400, QStringLiteral("action: one of ") + Actions.join(QStringLiteral(", ")));
    // The console reads the catalog from a file: one only this account may read, gone after.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("catalog.xml"));
    QFile out(file);
    if (!dir.isValid() || file.contains(QLatin1Char(' ')) || !out.open(QIODevice::WriteOnly) ||
        out.write(call.body.value(QStringLiteral("catalog")).toString().toUtf8()) < 0 ||
        !out.flush())
        return failure(500, QStringLiteral("the catalog cannot be kept for the push"));
    out.close();
    return acted(m_act(QStringLiteral("push %1 %2 group %3").arg(action, file, group), call.actor));
}

ApiRouter::Response ApiRouter::reread(const Call &call)
{
    // A re-read changes every group's catalog.
    if (!call.grant.coversAll(m_groups))
        return refuse(call, QStringLiteral("a re-read reaches every group"));
    return acted(m_act(QStringLiteral("reread"), call.actor));
}

ApiRouter::Response ApiRouter::page(const Call &call)
{
    const QStringList &at = call.segments;
    const QString html =
        at.size() == 1 ? ApiPages::status(m_db.handle(), now(), m_groupOf, m_requiredWork)
        : at[1] == QLatin1String("desktops") ? ApiPages::desktop(m_db.handle(), at[2], now())
                                             : ApiPages::rollout(m_db.handle(), at[2], now());
    return {200, "text/html; charset=utf-8", html.toUtf8(), ApiPages::contentSecurityPolicy(html),
            false};
}
