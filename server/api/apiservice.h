#pragma once

#include "api/apirouter.h"
#include "api/apiserver.h"
#include "fleet/fleetaudit.h"
#include "fleet/fleetpage.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class CatalogServer;
class QCommandLineParser;

// The admin API in the running service: its options, the token sub-command, the audit log
// of every console line, and the HTTPS server whose acts run as console lines.
class ApiService
{
public:
    struct Settings {
        QString listen; // ADDRESS:PORT; empty: no API
        QString certificate;
        QString key;
        double rate = 20; // calls a second per token
        int auditDays = FleetAudit::DefaultDays;
    };
    // api-listen, api-certificate, api-key, api-rate and audit-days, for the parser.
    static QList<QCommandLineOption> options();
    // The settings those options give; false with *error saying which is wrong.
    static bool settings(const QCommandLineParser &parser, Settings *settings, QString *error);
    // "token ..." as a sub-command (see ApiTokens::subcommand).
    static int subcommand(const QStringList &positional, const QString &fleetPath);

    explicit ApiService(Settings settings) : m_settings(std::move(settings)) {}
    ~ApiService();

    // Every line of the server's console goes to the audit log of the fleet database from
    // now on; true without one (there is nothing to log into).
    bool audit(const QString &fleetPath, CatalogServer *server, QString *error);
    // Starts the API when api-listen is set (it needs the fleet database): its port is
    // said in the service log. requiredWork: the status page's section (may be none).
    bool serve(const QString &fleetPath, const QStringList &groups, CatalogServer *server,
               const FleetPage::RequiredWork &requiredWork, QString *error);
    void stop();

private:
    const Settings m_settings;
    FleetAudit m_audit;
    std::unique_ptr<ApiRouter> m_router;
    std::unique_ptr<ApiServer> m_server;
};
