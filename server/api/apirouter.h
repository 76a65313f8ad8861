#pragma once

#include "api/apiratelimit.h"
#include "api/apitokens.h"
#include "fleet/fleetaudit.h"
#include "fleet/fleetdatabase.h"
#include "fleet/fleetpage.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// What the API answers, whatever carries the request: the routes of /api/v1 (the reports,
// the groups, the audit log, the tokens, the acts) and the status pages, each behind a token
// of a role, the acts limited to the token's groups. Every act, and every act refused, goes
// to the audit log. One thread at a time (it owns its connection to the fleet database).
class ApiRouter
{
public:
    struct Request {
        QByteArray method;
        QString path;           // decoded, without the query
        bool hasQuery = false;  // any query parameter at all
        QByteArray credentials; // the Authorization header
        QByteArray contentType;
        QByteArray body;
        QString peer; // the client's address
    };
    struct Response {
        int status = 200;
        QByteArray contentType = "application/json";
        QByteArray body;
        QByteArray contentSecurityPolicy; // pages only
        bool askCredentials = false;      // a page without a token: the browser asks for one
    };
    // Runs a console line for actor and gives its answer ("ok ..." or "error ...").
    using Act = std::function<QString(const QString &line, const FleetAudit::Actor &actor)>;
    // A desktop's group, as the server decides it from its address and account.
    using GroupOf = std::function<QString(const QString &address, const QString &account)>;

    // groups: every group the configuration names, "default" among them.
    ApiRouter(Act act, GroupOf groupOf, QStringList groups, FleetAudit *audit, double rate,
              double burst);

    // The status page's required work; before the router answers.
    void setRequiredWork(FleetPage::RequiredWork requiredWork)
    {
        m_requiredWork = std::move(requiredWork);
    }
    bool open(const QString &database, QString *error);
    Response handle(const Request &request);

private:
    struct Call {
        const Request &request;
        QStringList segments; // below the route's root
        ApiTokens::Grant grant;
        FleetAudit::Actor actor;
        QJsonObject body;
    };
    using Handler = Response (ApiRouter::*)(const Call &call);
    struct Route {
        QByteArray method;
        QStringList pattern; // "*" stands for one name
        ApiTokens::Role least;
        bool changes; // a refusal goes to the audit log
        bool page;
        Handler handler;
    };
    static const QVector<Route> &routes();

    Response reports(const Call &call);
    Response groups(const Call &call);
    Response tokens(const Call &call);
    Response issue(const Call &call);
    Response revoke(const Call &call);
    Response rollout(const Call &call);
    Response push(const Call &call);
    Response reread(const Call &call);
    Response page(const Call &call);

    // A refusal in the audit log and a 403.
    Response refuse(const Call &call, const QString &why);
    // The act's answer, 200 when it is "ok ...".
    Response acted(const QString &answer) const;
    std::optional<ApiTokens::Grant> holder(const QByteArray &credentials) const;
    // Empty when the call may read the desktop its path names (if any); else why not.
    QString beyond(const Call &call) const;

    const Act m_act;
    const GroupOf m_groupOf;
    FleetPage::RequiredWork m_requiredWork;
    const QStringList m_groups;
    FleetAudit *const m_audit;
    ApiRateLimit m_limit;
    FleetDatabase m_db;
};
