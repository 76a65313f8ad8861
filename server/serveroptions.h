#pragma once

#include "api/apiservice.h"
#include "groups/desktopgroups.h"
#include "repository/repositorychecks.h"
#include "rollout/rolloutpolicy.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <memory>

class QCoreApplication;
class RepositorySignature;

// The catalog server's options: the command line over the service configuration, each number
// checked against its bounds in one table.
class ServerOptions
{
public:
    ServerOptions();
    ~ServerOptions();

    // Reads the command line (--help answers and ends here) and the --server-config under it.
    // 0, or the exit status after saying what is wrong.
    int parse(QCoreApplication &app);
    // Checks the numbers and loads the repository's key: 0, or the exit status after saying
    // what is wrong.
    int check();
    // Sets the transport's settings (its environment) and the broker's topology.
    void prepareTransport() const;

    bool isSet(const char *option) const { return m_parser.isSet(QLatin1String(option)); }
    QString value(const char *option) const { return m_parser.value(QLatin1String(option)); }
    QStringList values(const char *option) const { return m_parser.values(QLatin1String(option)); }
    QStringList positional() const { return m_parser.positionalArguments(); }
    // The fleet database, empty when reports are ignored.
    QString fleetDatabase() const;

    // Valid after check().
    qint64 maxFrame = 0;
    qint64 maxClients = 0;
    qint64 maxGroupDesktops = 0;
    double groupDesktopInterval = 0;
    qint64 frameValidity = 0;
    qint64 heartbeat = 0;
    qint64 settleMs = 0;
    qint64 resultDays = 0;
    qint64 reportInterval = 0; // seconds
    RepositoryChecks checks;   // with --repository
    QString unsignedWarning;   // a line for the log once the server prints
    RolloutPolicy rollout;
    ApiService::Settings api;
    DesktopGroups desktopGroups;

private:
    bool loadRepositoryKey();

    QCommandLineParser m_parser;
    std::unique_ptr<RepositorySignature> m_signature;
};
