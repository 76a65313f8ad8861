#include "api/apiservice.h"

#include "api/apitokens.h"
#include "serving/catalogserver.h"
#include "serving/servicelog.h"

#include <QCommandLineParser>
#include <QFile>

namespace
{

QByteArray readFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return QByteArray();
    }
    return file.read(1024 * 1024);
}

} // namespace

QList<QCommandLineOption> ApiService::options()
{
    return {
        {QStringLiteral("api-listen"),
         QStringLiteral("Serve the admin API and the live status page on ADDRESS:PORT (HTTPS "
                        "with --api-certificate and --api-key; plain HTTP only on a loopback "
                        "address). Needs the fleet database; tokens come from \"token add\"."),
         QStringLiteral("address:port")},
        {QStringLiteral("api-certificate"),
         QStringLiteral("The API's TLS certificate chain (PEM)."), QStringLiteral("file")},
        {QStringLiteral("api-key"), QStringLiteral("The API's TLS private key (PEM)."),
         QStringLiteral("file")},
        {QStringLiteral("api-rate"),
         QStringLiteral("API calls a second per token, twice as many at once (default 20)."),
         QStringLiteral("calls"), QStringLiteral("20")},
        {QStringLiteral("audit-days"),
         QStringLiteral("Days the audit log keeps its rows (1 to 36500, default 365)."),
         QStringLiteral("days"), QString::number(FleetAudit::DefaultDays)},
    };
}

bool ApiService::settings(const QCommandLineParser &parser, Settings *settings, QString *error)
{
    settings->listen = parser.value(QStringLiteral("api-listen"));
    settings->certificate = parser.value(QStringLiteral("api-certificate"));
    settings->key = parser.value(QStringLiteral("api-key"));
    bool rateOk = false;
    bool daysOk = false;
    settings->rate = parser.value(QStringLiteral("api-rate")).toDouble(&rateOk);
    settings->auditDays = parser.value(QStringLiteral("audit-days")).toInt(&daysOk);
    if (!rateOk || settings->rate < 1 || settings->rate > 1e6) {
        *error = QStringLiteral("--api-rate: 1 to 1000000 calls a second");
        return false;
    }
    if (!daysOk || settings->auditDays < 1 || settings->auditDays > 36500) {
        *error = QStringLiteral("--audit-days: 1 to 36500");
        return false;
    }
    if (settings->certificate.isEmpty() != settings->key.isEmpty()) {
        *error = QStringLiteral("--api-certificate and --api-key go together");
        return false;
    }
    return true;
}

int ApiService::subcommand(const QStringList &positional, const QString &fleetPath)
{
    return ApiTokens::subcommand(positional, fleetPath);
}

ApiService::~ApiService()
{
    stop();
}

bool ApiService::audit(const QString &fleetPath, CatalogServer *server, QString *error)
{
    if (fleetPath.isEmpty())
        return true;
    if (!m_audit.open(fleetPath, m_settings.auditDays, error))
        return false;
    server->console().setAudit([this, server](const ServerConsole::Line &line,
                                              const QString &answer) {
        if (!m_audit.record(line.actor, line.text,
                            answer.isEmpty() ? QStringLiteral("(no answer)") : answer))
            server->print(ServiceLog::line(ServiceLog::Priority::Error,
                                           QStringLiteral("audit log: cannot write the row of ") +
                                               line.text));
    });
    return true;
}

bool ApiService::serve(const QString &fleetPath, const QStringList &groups, CatalogServer *server,
                       const FleetPage::RequiredWork &requiredWork, QString *error)
{
    if (m_settings.listen.isEmpty())
        return true;
    if (fleetPath.isEmpty() || !m_audit.isOpen()) {
        *error = QStringLiteral("--api-listen needs the fleet database (--fleet-db)");
        return false;
    }
    ApiServer::Settings settings;
    const int colon = m_settings.listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const uint port = m_settings.listen.mid(colon + 1).toUInt(&portOk);
    if (colon < 0 || !portOk || port > 65535) {
        *error = QStringLiteral("--api-listen: ADDRESS:PORT, not ") + m_settings.listen;
        return false;
    }
    settings.address = m_settings.listen.left(colon);
    settings.port = quint16(port);
    if (!m_settings.certificate.isEmpty()) {
        settings.certificate = readFile(m_settings.certificate, error);
        settings.key = readFile(m_settings.key, error);
        if (settings.certificate.isEmpty() || settings.key.isEmpty())
            return false;
    }
    // Acts are the console's own lines, answered on the API's thread.
    m_router = std::make_unique<ApiRouter>(
        [server](const QString &line, const FleetAudit::Actor &actor) {
            return server->console().answer(line, actor);
        },
        [server](const QString &address, const QString &account) {
            return server->desktopGroups().of(account, address);
        },
        groups, &m_audit, m_settings.rate, 2 * m_settings.rate);
    m_router->setRequiredWork(requiredWork);
    if (!m_router->open(fleetPath, error))
        return false;
    m_server = std::make_unique<ApiServer>(m_router.get());
    if (!m_server->start(settings, error))
        return false;
    server->print(ServiceLog::line(
        ServiceLog::Priority::Info,
        QStringLiteral("api listening on %1://%2:%3")
            .arg(m_server->isTls() ? QStringLiteral("https") : QStringLiteral("http"),
                 settings.address)
            .arg(m_server->port())));
    return true;
}

void ApiService::stop()
{
    if (m_server)
        m_server->stop();
}
