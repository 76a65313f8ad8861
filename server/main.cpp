// corvane-catalog-server: the organisation's catalog service (a systemd service; the tests
// and the demo run it too). See --help.
#include "api/apiservice.h"
#include "fleet/fleetingest.h"
#include "fleet/fleetreport.h"
#include "plans/planservice.h"
#include "plans/requiredreport.h"
#include "rollout/rolloutservice.h"
#include "serveroptions.h"
#include "serving/catalogserver.h"
#include "serving/filearea.h"
#include "serving/repositoryfollower.h"
#include "serving/servicelog.h"
#include "serving/servicenotify.h"
#include "serving/servingthreads.h"
#include "sync/signingkey.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace
{

void complain(const QString &text)
{
    std::fprintf(stderr, "catalog-server: %s\n", text.toUtf8().constData());
}

int makeKey(const QString &directory)
{
    QString error;
    const SigningKey made = SigningKey::generate();
    if (!made.saveKeyPair(directory, &error)) {
        complain(error);
        return 1;
    }
    std::printf("key %s\n", made.id().constData());
    return 0;
}

std::unique_ptr<FleetIngest> startFleet(const ServerOptions &options, CatalogServer *server,
                                        QString *error)
{
    FleetIngest::Settings settings;
    settings.database = options.fleetDatabase();
    settings.resultDays = int(options.resultDays);
    settings.reportDir = options.value("report-dir");
    settings.reportIntervalMs = int(options.reportInterval * 1000);
    settings.groupOf = [server](const QString &address, const QString &account) {
        return server->desktopGroups().of(account, address);
    };
    auto fleet = std::make_unique<FleetIngest>(
        settings,
        [server](const QString &desktop, const QStringList &ids) {
            server->acknowledgeReports(desktop, ids);
        },
        [server](const QString &line) { server->print(line); });
    if (!fleet->start(error))
        return nullptr;
    server->setFleet(fleet.get());
    return fleet;
}

std::unique_ptr<RepositoryFollower> makeFollower(const ServerOptions &options,
                                                 const RolloutService &rollouts,
                                                 CatalogServer *server, FleetIngest *fleet)
{
    RepositoryFollower::Settings settings;
    rollouts.follow(&settings);
    settings.checks = options.checks;
    settings.repository = options.value("repository");
    settings.overrides = options.value("overrides");
    settings.locale = options.value("locale");
    settings.files = options.value("files");
    settings.publishedState = options.value("repository-state");
    settings.settleMs = int(options.settleMs);
    settings.groups = options.desktopGroups.names().mid(1);
    if (fleet)
        settings.advisoriesRead = [fleet](const QVector<Advisory> &advisories) {
            fleet->setAdvisories(advisories);
        };
    return std::make_unique<RepositoryFollower>(server, settings);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-catalog-server"));
    ServerOptions options;
    if (const int status = options.parse(app))
        return status;
    const QStringList positional = options.positional();
    if (positional.value(0) == QLatin1String("report") &&
        positional.value(1) != QLatin1String("required")) {
        // The groups as the service puts desktops in them (a wrong line stops the service).
        DesktopGroups groups;
        for (const QString &definition : options.values("desktop-group"))
            if (QString wrong; !groups.add(definition, &wrong))
                complain(wrong);
        return FleetReport::run(options.fleetDatabase(), positional.mid(1), options.value("format"),
                                [&groups](const QString &address, const QString &account) {
                                    return groups.of(account, address);
                                });
    }
    if (const int status = RolloutService::subcommand(positional, options.fleetDatabase());
        status >= 0)
        return status;
    if (const int status = ApiService::subcommand(positional, options.fleetDatabase()); status >= 0)
        return status;
    if (options.isSet("make-key"))
        return makeKey(options.value("make-key"));
    if (const int status = options.check())
        return status;
    if (positional == QStringList{QStringLiteral("report"), QStringLiteral("required")})
        return RequiredReport::run({options.fleetDatabase(), options.value("overrides"),
                                    options.value("repository"), options.checks,
                                    options.value("locale")},
                                   options.desktopGroups, options.value("format"));
    options.prepareTransport();

    const QString files = options.value("files");
    const QString key = options.value("key");
    const QString sequence = key.isEmpty() ? QString() : key + QStringLiteral(".sequence");
    if (!files.isEmpty()) {
        const QString refusal =
            FileArea::refusal(files, {key, sequence, options.value("repository-state")});
        if (!refusal.isEmpty()) {
            complain(refusal);
            return 1;
        }
    }

    // Declared before the threads, which use them until stopped.
    CatalogServer server(
        files, int(options.maxFrame), !options.isSet("files-only"), options.isSet("verbose"),
        int(options.maxClients),
        GroupDesktops(int(options.maxGroupDesktops), options.groupDesktopInterval));
    server.setDesktopGroups(options.desktopGroups);
    server.setGroupStreams(options.isSet("group-streams"));
    if (!options.desktopGroups.isEmpty() && options.isSet("files-only"))
        // The file area carries the default catalog alone.
        server.print(ServiceLog::line(ServiceLog::Priority::Warning,
                                      QStringLiteral("files-only: every group's desktops get "
                                                     "the default catalog from the file area")));
    QString error;
    if (!key.isEmpty()) {
        SigningKey signing = SigningKey::loadPrivate(key, &error);
        if (signing.isNull()) {
            complain(error);
            return 1;
        }
        server.setSigningKey(std::move(signing), sequence);
        server.setFrameValidity(options.frameValidity);
    }
    if (options.isSet("catalog") && (!server.setCatalog(options.value("catalog"), &error) ||
                                     !server.writeCatalogFile(&error))) {
        complain(error);
        return 1;
    }
    // Before the fleet and the API: their threads call it for the status pages until stopped.
    std::unique_ptr<RepositoryFollower> follower;
    std::unique_ptr<FleetIngest> fleet;
    if (!options.fleetDatabase().isEmpty() && !(fleet = startFleet(options, &server, &error))) {
        complain(error);
        return 1;
    }
    // Beside the reports they bound: whom each group account speaks for.
    if (!options.fleetDatabase().isEmpty() &&
        !server.keepGroupDesktops(QFileInfo(options.fleetDatabase()).absolutePath() +
                                      QStringLiteral("/group-desktops"),
                                  &error)) {
        complain(error);
        return 1;
    }
    RolloutService rollouts;
    const auto groupOf = [&server](const QString &address, const QString &account) {
        return server.desktopGroups().of(account, address);
    };
    if (!rollouts.start(options.rollout, options.desktopGroups.names(), groupOf,
                        options.fleetDatabase(), &server, fleet.get(), &error)) {
        complain(error);
        return 1;
    }
    rollouts.addCommands(&server.console());
    ApiService api(options.api);
    if (!api.audit(options.fleetDatabase(), &server, &error)) {
        complain(error);
        return 1;
    }
    bool published = true;
    if (options.isSet("repository")) {
        if (!options.unsignedWarning.isEmpty())
            server.print(ServiceLog::line(ServiceLog::Priority::Warning, options.unsignedWarning));
        follower = makeFollower(options, rollouts, &server, fleet.get());
        follower->addCommands(&server.console());
        // Unreadable now: serve an empty catalog and publish once the repository reads.
        if (!(published = follower->publishFirst(&error))) {
            server.print(ServiceLog::line(ServiceLog::Priority::Error, error));
            if (options.isSet("no-serve"))
                return 1;
        }
    }

    if (options.isSet("commands")) {
        bool stopped = false;
        if (!server.console().runFile(options.value("commands"), &stopped, &error)) {
            complain(error);
            return 1;
        }
        if (stopped)
            return 0;
    }
    if (options.isSet("no-serve"))
        return 0;

    ServingThreads threads(&server);
    if (!threads.startReceiver()) {
        complain(QStringLiteral("cannot receive on the transport"));
        return 1;
    }
    if (follower)
        threads.startFollower(follower.get());
    if (!key.isEmpty() && options.frameValidity > 0)
        // Signed anew before half its validity has passed: a store fetching it late still
        // gets a catalog it takes.
        threads.every(qMax<qint64>(1, options.frameValidity / 2), [&server]() {
            QString error;
            if (!server.writeCatalogFile(&error))
                server.print(ServiceLog::line(ServiceLog::Priority::Error, error));
        });
    if (!key.isEmpty() && options.heartbeat > 0)
        threads.every(options.heartbeat, [&server]() {
            QString error;
            if (server.sendHeartbeat(&error) < 0)
                server.print(ServiceLog::line(ServiceLog::Priority::Error, error));
        });
    // New holds (a stage passed, a halt, a command) reach the groups' catalogs at once.
    threads.every(1, [&rollouts, &server, follower = follower.get()]() {
        rollouts.look([&server, follower](const VersionHolds &holds) {
            if (!follower)
                return;
            follower->setHolds(holds);
            QString error;
            if (!follower->republish(&error))
                server.print(ServiceLog::line(ServiceLog::Priority::Error, error));
        });
    });
    // The status pages' required work: what the plans name, from the follower.
    const FleetPage::RequiredWork requiredWork =
        follower ? RequiredReport::of(follower.get(), server.desktopGroups())
                 : FleetPage::RequiredWork();
    if (fleet && requiredWork)
        fleet->setRequiredWork(requiredWork);
    if (!api.serve(options.fleetDatabase(), options.desktopGroups.names(), &server, requiredWork,
                   &error)) {
        complain(error);
        return 1;
    }
    // Each desktop's plan for its agent, on a change and at least hourly.
    PlanService plans(&server, follower.get());
    if (follower && !key.isEmpty() && !options.fleetDatabase().isEmpty()) {
        if (!plans.open(options.fleetDatabase(), &error)) {
            complain(error);
            return 1;
        }
        threads.every(1, [&plans, &server]() {
            QString error;
            if (plans.look(QDateTime::currentSecsSinceEpoch(), &error) < 0)
                server.print(ServiceLog::line(ServiceLog::Priority::Error, error));
        });
    }
    // Without a command input the server keeps answering until it is stopped.
    threads.startConsole(&server.console());
    // Ready: the first catalog is published (or, with the repository unreadable, the empty
    // one is served and its line logged) and the transport answers.
    ServiceNotify::send(published ? QByteArray("READY=1\nSTATUS=serving")
                                  : QByteArray("READY=1\nSTATUS=repository unreadable; "
                                               "serving no catalog yet"));
    threads.waitForStopRequest();
    ServiceNotify::send("STOPPING=1");
    api.stop();
    threads.stop();
    return 0;
}
