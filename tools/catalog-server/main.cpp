// corvane-catalog-server: a catalog server on the store's transport, for development, tests
// and the demo. See --help.
#include "brokersetup.h"
#include "catalogoverrides.h"
#include "catalogserver.h"
#include "clienttable.h"
#include "desktopgroups.h"
#include "filearea.h"
#include "fleetingest.h"
#include "fleetreport.h"
#include "groupdesktops.h"
#include "records/paths.h"
#include "repositorycatalog.h"
#include "repositoryfollower.h"
#include "repositorysignature.h"
#include "serversettings.h"
#include "servicelog.h"
#include "sync/framesigner.h"
#include "sync/signingkey.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

static const char *const Commands =
    "Commands, one per line, from --commands and then from standard input:\n"
    "  push ACTION FILE [ADDRESS]  send the packages of catalog FILE as ACTION frames to\n"
    "                              ADDRESS, or to every client that has joined (through\n"
    "                              the broker: once, to the broadcast address)\n"
    "  publish ACTION FILE         append them as ACTION frames to the push file\n"
    "  unpublish                   empty the push file\n"
    "  catalog FILE                serve catalog FILE from now on (rewrites the catalog file)\n"
    "  send ADDRESS TEXT           send the rest of the line as one message\n"
    "  quit                        stop (queued messages are still delivered)\n"
    "Each command answers with one line \"ok ...\" or \"error ...\" on standard output.\n"
    "A catalog FILE is XML: a root element with one element per package carrying the\n"
    "attributes name, icon, exec, rpm, class, version, size, star, time, desc, rpmdeps.";

static bool isUrl(const QString &location)
{
    return location.startsWith(QLatin1String("http://")) ||
           location.startsWith(QLatin1String("https://"));
}

// The repository's key and bounds from the options; false after saying what is wrong.
// *warning: a line for the log once the server prints.
static bool repositoryChecks(const QCommandLineParser &parser, RepositoryChecks *checks,
                             QString *warning)
{
    const struct {
        const char *option;
        qint64 least;
        qint64 most; // a QByteArray holds at most 2 GiB
        qint64 *value;
    } numbers[] = {{"max-repomd", 1024, qint64(64) << 20, &checks->maxRepomdBytes},
                   {"max-metadata", 1024, qint64(1) << 30, &checks->maxFileBytes},
                   {"max-unpacked", 1024, qint64(1) << 30, &checks->maxUnpackedBytes}};
    for (const auto &number : numbers) {
        bool ok = false;
        *number.value = parser.value(QLatin1String(number.option)).toLongLong(&ok);
        if (!ok || *number.value < number.least || *number.value > number.most) {
            std::fprintf(stderr, "catalog-server: --%s must be %lld..%lld\n", number.option,
                         number.least, number.most);
            return false;
        }
    }
    bool ok = false;
    checks->maxPackages = parser.value(QStringLiteral("max-catalog")).toInt(&ok);
    if (!ok || checks->maxPackages < 1) {
        std::fprintf(stderr, "catalog-server: --max-catalog must be a positive number\n");
        return false;
    }
    const QString repository = parser.value(QStringLiteral("repository"));
    const QString keyFile = parser.value(QStringLiteral("repository-key"));
    if (keyFile.isEmpty()) {
        // A folder's owner is trusted as the server's own files are; a network path is not.
        if (isUrl(repository) && !parser.isSet(QStringLiteral("allow-unsigned-repository"))) {
            std::fprintf(stderr,
                         "catalog-server: %s is fetched over the network: name its OpenPGP key "
                         "with repository-key, or set allow-unsigned-repository\n",
                         repository.toUtf8().constData());
            return false;
        }
        if (isUrl(repository))
            *warning = QStringLiteral("repository %1 is followed unsigned: whoever is on the "
                                      "network path chooses the catalog")
                           .arg(repository);
        return true;
    }
    // Never deleted: the follower's thread may be checking with it while the process ends.
    // Its private GnuPG home goes then; a check under way just fails.
    static RepositorySignature *const signature = new RepositorySignature;
    std::atexit([]() { signature->removeHome(); });
    QString error;
    if (!signature->load(keyFile, &error)) {
        std::fprintf(stderr, "catalog-server: %s\n", error.toUtf8().constData());
        return false;
    }
    checks->signature = signature;
    return true;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-catalog-server"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Answers join_requ with join_resp and data_requ with the catalog as "
                       "data_resp frame(s); pushes frames on command.\n"
                       "Through the broker a request is answered at the desktop of the account "
                       "that sent it (desk-A: A; group-P: the address the frame names, within P, "
                       "whose queue the server makes); over direct TCP at the address the "
                       "connection came from, whatever the frame names.\n") +
        QLatin1String(CatalogServer::CatalogProtocol) + QStringLiteral("\n\n") +
        QLatin1String(Commands) + QStringLiteral("\n\n") + QLatin1String(CatalogOverrides::Syntax) +
        QStringLiteral("\n\n") + QLatin1String(ServerSettings::Syntax) + QStringLiteral("\n") +
        QLatin1String(DesktopGroups::Syntax));
    parser.addHelpOption();
    const QCommandLineOption catalog(QStringLiteral("catalog"), QStringLiteral("Catalog to serve."),
                                     QStringLiteral("file"));
    const QCommandLineOption files(
        QStringLiteral("files"),
        QStringLiteral("HTTP file area: writes .cv_data/data_x86_64 and, on publish, "
                       ".cv_data/push_x86_64 below it. It must be a folder of the service's "
                       "own that group and others cannot change, hold neither the key nor "
                       "its sequence, and .cv_data no link; the service refuses to start "
                       "otherwise."),
        QStringLiteral("dir"));
    const QCommandLineOption bind(
        QStringLiteral("bind"),
        QStringLiteral("Address to receive on over direct TCP (default 127.0.0.2)."),
        QStringLiteral("address"), QStringLiteral("127.0.0.2"));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Direct TCP transport port (default VQS_PORT or 7788)."),
        QStringLiteral("port"));
    const QCommandLineOption config(
        QStringLiteral("config"),
        QStringLiteral("libvqs settings file (default VQS_CONFIG or /etc/vqs.conf): with "
                       "\"transport = amqp\" the server goes through the broker, receives on its "
                       "address there and pushes to every desktop with one message."),
        QStringLiteral("file"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Dump a received message that is not a frame in hexadecimal."));
    const QCommandLineOption maxFrame(QStringLiteral("max-frame"),
                                      QStringLiteral("Largest frame in bytes (default 65535)."),
                                      QStringLiteral("bytes"), QStringLiteral("65535"));
    const QCommandLineOption commands(QStringLiteral("commands"),
                                      QStringLiteral("Run the commands of this file first."),
                                      QStringLiteral("file"));
    const QCommandLineOption noServe(
        QStringLiteral("no-serve"),
        QStringLiteral("Only write the files and run --commands, then exit."));
    const QCommandLineOption maxClients(
        QStringLiteral("max-clients"),
        QStringLiteral("Clients kept for pushes over direct TCP; beyond, the one heard from "
                       "longest ago is dropped (default 4096)."),
        QStringLiteral("count"), QString::number(ClientTable::DefaultLimit));
    const QCommandLineOption maxGroupDesktops(
        QStringLiteral("max-group-desktops"),
        QStringLiteral("Desktops of one group account the server makes a queue for; beyond, "
                       "a request is refused with one line (default %1).")
            .arg(GroupDesktops::DefaultLimit),
        QStringLiteral("count"), QString::number(GroupDesktops::DefaultLimit));
    const QCommandLineOption groupDesktopInterval(
        QStringLiteral("group-desktop-interval"),
        QStringLiteral("Seconds between two new desktops of one group account (%1 at once); "
                       "sooner, a request is refused with one line (default %2).")
            .arg(GroupDesktops::Burst)
            .arg(GroupDesktops::DefaultIntervalSeconds),
        QStringLiteral("seconds"), QString::number(GroupDesktops::DefaultIntervalSeconds));
    const QCommandLineOption filesOnly(
        QStringLiteral("files-only"),
        QStringLiteral("Leave data_requ unanswered: clients fetch the catalog file over HTTP."));
    const QCommandLineOption key(
        QStringLiteral("key"),
        QStringLiteral("Sign every frame with this Ed25519 private key (mode 0600); the stores "
                       "trust its public half in /etc/corvane/keys. The sequence of the last "
                       "frame signed is kept in FILE.sequence."),
        QStringLiteral("file"));
    const QCommandLineOption makeKey(
        QStringLiteral("make-key"),
        QStringLiteral("Write a new key pair, DIR/catalog.key and DIR/catalog.pub, and exit. "
                       "Copy catalog.pub to /etc/corvane/keys/ on every desktop (any name "
                       "ending in .pub: keep the old key there until the server signs with "
                       "the new one)."),
        QStringLiteral("dir"));
    const QCommandLineOption repository(
        QStringLiteral("repository"),
        QStringLiteral("Build the catalog from this dnf repository (a folder holding repodata/, "
                       "or its http:// or https:// URL, fetched with wget) "
                       "and follow it: a new repomd.xml, once it has rested for --settle, is "
                       "read whole and what changed is pushed to every desktop and written to "
                       "the catalog and push files; icons go to --files. Only applications "
                       "(AppStream data) enter, unless the overrides add them."),
        QStringLiteral("dir"));
    const QCommandLineOption overrides(
        QStringLiteral("overrides"),
        QStringLiteral("Override file for --repository (re-read when it changes; a wrong line "
                       "keeps the last good catalog)."),
        QStringLiteral("file"));
    const QCommandLineOption locale(QStringLiteral("locale"),
                                    QStringLiteral("Language of AppStream names (default zh_CN)."),
                                    QStringLiteral("name"), QStringLiteral("zh_CN"));
    const QCommandLineOption settle(
        QStringLiteral("settle"),
        QStringLiteral("Milliseconds repomd.xml must stay unchanged before it is read "
                       "(default 2000)."),
        QStringLiteral("ms"), QStringLiteral("2000"));
    const QCommandLineOption serverConfig(
        QStringLiteral("server-config"),
        QStringLiteral("Read options from this service configuration (the service uses %1); "
                       "options on the command line win.")
            .arg(Paths::catalogServerConfig()),
        QStringLiteral("file"));
    const QCommandLineOption repositoryKey(
        QStringLiteral("repository-key"),
        QStringLiteral("OpenPGP public key file (the key the desktops' dnf trusts as gpgkey): "
                       "repodata/repomd.xml counts only with a good detached, armored signature "
                       "by it in repodata/repomd.xml.asc (gpg --detach-sign --armor "
                       "repodata/repomd.xml after createrepo_c and modifyrepo_c). Required for "
                       "an http:// or https:// repository."),
        QStringLiteral("file"));
    const QCommandLineOption allowUnsigned(
        QStringLiteral("allow-unsigned-repository"),
        QStringLiteral("Follow an http:// or https:// repository without --repository-key: "
                       "whoever is on the network path then chooses what the server signs."));
    const RepositoryChecks bounds;
    const QCommandLineOption maxRepomd(
        QStringLiteral("max-repomd"),
        QStringLiteral("Largest repomd.xml (and signature) in bytes (default %1).")
            .arg(bounds.maxRepomdBytes),
        QStringLiteral("bytes"), QString::number(bounds.maxRepomdBytes));
    const QCommandLineOption maxMetadata(
        QStringLiteral("max-metadata"),
        QStringLiteral("Largest metadata file as fetched, in bytes (default %1).")
            .arg(bounds.maxFileBytes),
        QStringLiteral("bytes"), QString::number(bounds.maxFileBytes));
    const QCommandLineOption maxUnpacked(
        QStringLiteral("max-unpacked"),
        QStringLiteral("Largest metadata file decompressed, in bytes (default %1).")
            .arg(bounds.maxUnpackedBytes),
        QStringLiteral("bytes"), QString::number(bounds.maxUnpackedBytes));
    const QCommandLineOption maxCatalog(
        QStringLiteral("max-catalog"),
        QStringLiteral("Most packages in the catalog (default %1).").arg(bounds.maxPackages),
        QStringLiteral("count"), QString::number(bounds.maxPackages));
    const IconBounds iconDefaults;
    const QCommandLineOption maxIconArchive(
        QStringLiteral("max-icon-archive"),
        QStringLiteral("Largest icon archive of --repository once decompressed, in bytes; a "
                       "larger one keeps the last catalog (default %1).")
            .arg(iconDefaults.archive),
        QStringLiteral("bytes"), QString::number(iconDefaults.archive));
    const QCommandLineOption maxIcon(
        QStringLiteral("max-icon"),
        QStringLiteral("Largest icon in it, in bytes; a larger one is left out (default %1).")
            .arg(iconDefaults.member),
        QStringLiteral("bytes"), QString::number(iconDefaults.member));
    const QCommandLineOption frameValidity(
        QStringLiteral("frame-validity"),
        QStringLiteral("Seconds a signed frame stays valid (default 604800, 7 days); the catalog "
                       "file is signed anew before half of it has passed. Negative signs frames "
                       "that have expired already (for tests)."),
        QStringLiteral("seconds"), QString::number(FrameSigner::DefaultValidity));
    const QCommandLineOption heartbeat(
        QStringLiteral("heartbeat"),
        QStringLiteral("Seconds between the signed heartbeats sent to every desktop and written "
                       "to the push file (default 3600; 0: none): a desktop that hears none "
                       "for its max_catalog_age says its catalog is not current."),
        QStringLiteral("seconds"), QStringLiteral("3600"));
    const QCommandLineOption fleetDb(
        QStringLiteral("fleet-db"),
        QStringLiteral("Keep the stores' reports (results and inventories) in this SQLite file; "
                       "with --server-config the default is %1, otherwise reports are ignored.")
            .arg(Paths::fleetDatabase()),
        QStringLiteral("file"));
    const QCommandLineOption resultDays(
        QStringLiteral("result-days"),
        QStringLiteral("Days the fleet database keeps results (default 90)."),
        QStringLiteral("days"), QStringLiteral("90"));
    const QCommandLineOption reportDir(
        QStringLiteral("report-dir"),
        QStringLiteral("Write the status page fleet.html into this folder when reports change "
                       "(not the stores' file area)."),
        QStringLiteral("dir"));
    const QCommandLineOption reportInterval(
        QStringLiteral("report-interval"),
        QStringLiteral("Seconds between two writes of the status page at most (default 60)."),
        QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("Output of the report sub-command: text, csv or json (default text)."),
        QStringLiteral("format"), QStringLiteral("text"));
    const QCommandLineOption desktopGroup(
        QStringLiteral("desktop-group"),
        QStringLiteral("A group of desktops with a catalog and pushes of its own: \"NAME "
                       "MEMBER...\", each MEMBER an address, ADDRESS/BITS or account:ACCOUNT; "
                       "once per group, the first that matches wins (default: \"default\")."),
        QStringLiteral("definition"));
    const QCommandLineOption groupStreams(
        QStringLiteral("group-streams"),
        QStringLiteral("Through the broker, push a group's own changes into its stream "
                       "(scripts/broker accounts --desktop-group, with the same groups)."));
    parser.addOptions({catalog,       desktopGroup,  groupStreams,     files,
                       bind,          port,          config,           maxFrame,
                       commands,      noServe,       filesOnly,        verbose,
                       maxClients,    key,           makeKey,          repository,
                       overrides,     locale,        settle,           serverConfig,
                       repositoryKey, allowUnsigned, maxRepomd,        maxMetadata,
                       maxUnpacked,   maxCatalog,    maxIconArchive,   maxIcon,
                       frameValidity, heartbeat,     maxGroupDesktops, groupDesktopInterval,
                       fleetDb,       resultDays,    reportDir,        reportInterval,
                       format});
    parser.process(app);
    if (parser.isSet(serverConfig)) {
        QStringList fromFile;
        QString error;
        if (!ServerSettings::options(parser.value(serverConfig), &fromFile, &error)) {
            std::fprintf(stderr, "catalog-server: %s\n", error.toUtf8().constData());
            return 2;
        }
        // Later values win: the file's options go before those of the command line.
        const QStringList given = app.arguments();
        parser.process(given.mid(0, 1) + fromFile + given.mid(1));
    }

    const QString fleetPath = parser.isSet(fleetDb)        ? parser.value(fleetDb)
                              : parser.isSet(serverConfig) ? Paths::fleetDatabase()
                                                           : QString();
    const QStringList positional = parser.positionalArguments();
    if (positional.value(0) == QLatin1String("report"))
        return FleetReport::run(fleetPath, positional.mid(1), parser.value(format));

    if (parser.isSet(makeKey)) {
        QString error;
        const SigningKey made = SigningKey::generate();
        if (!made.saveKeyPair(parser.value(makeKey), &error)) {
            std::fprintf(stderr, "catalog-server: %s\n", error.toUtf8().constData());
            return 1;
        }
        std::printf("key %s\n", made.id().constData());
        return 0;
    }

    bool ok = false;
    const int maxBytes = parser.value(maxFrame).toInt(&ok);
    if (!ok || maxBytes < 128 || maxBytes > 65535) {
        std::fprintf(stderr, "catalog-server: --max-frame must be 128..65535\n");
        return 2;
    }
    const qint64 validity = parser.value(frameValidity).toLongLong(&ok);
    if (!ok || validity == 0) {
        std::fprintf(stderr, "catalog-server: --frame-validity must be a number of seconds\n");
        return 2;
    }
    const qint64 beatEvery = parser.value(heartbeat).toLongLong(&ok);
    if (!ok || beatEvery < 0) {
        std::fprintf(stderr, "catalog-server: --heartbeat must be a number of seconds\n");
        return 2;
    }
    const int clientLimit = parser.value(maxClients).toInt(&ok);
    if (!ok || clientLimit < 1) {
        std::fprintf(stderr, "catalog-server: --max-clients must be a positive number\n");
        return 2;
    }
    const int groupLimit = parser.value(maxGroupDesktops).toInt(&ok);
    if (!ok || groupLimit < 0) {
        std::fprintf(stderr, "catalog-server: --max-group-desktops must be a number\n");
        return 2;
    }
    const double groupInterval = parser.value(groupDesktopInterval).toDouble(&ok);
    if (!ok || groupInterval < 0) {
        std::fprintf(stderr, "catalog-server: --group-desktop-interval must be seconds\n");
        return 2;
    }
    DesktopGroups desktopGroups;
    for (const QString &definition : parser.values(desktopGroup)) {
        QString error;
        if (!desktopGroups.add(definition, &error)) {
            std::fprintf(stderr, "catalog-server: %s\n", error.toUtf8().constData());
            return 2;
        }
    }
    RepositoryChecks checks;
    QString unsignedWarning;
    if (parser.isSet(repository) && !repositoryChecks(parser, &checks, &unsignedWarning))
        return 2;
    // The transport reads its settings from the environment.
    qputenv("VQS_BIND", parser.value(bind).toUtf8());
    // A sender thread for each client pushed to, and some for those answered meanwhile.
    if (qEnvironmentVariableIsEmpty("VQS_MAX_LANES"))
        qputenv("VQS_MAX_LANES", QByteArray::number(clientLimit + 256));
    if (parser.isSet(port))
        qputenv("VQS_PORT", parser.value(port).toUtf8());
    if (parser.isSet(config))
        qputenv("VQS_CONFIG", parser.value(config).toUtf8());
    BrokerSetup::prepare();

    if (parser.isSet(files)) {
        const QString sequence =
            parser.isSet(key) ? parser.value(key) + QStringLiteral(".sequence") : QString();
        const QString refusal =
            FileArea::refusal(parser.value(files), {parser.value(key), sequence});
        if (!refusal.isEmpty()) {
            std::fprintf(stderr, "catalog-server: %s\n", refusal.toUtf8().constData());
            return 1;
        }
    }

    // Never deleted: the receiving thread uses it until the process ends.
    CatalogServer *server = new CatalogServer(
        parser.value(files), maxBytes, !parser.isSet(filesOnly), parser.isSet(verbose), clientLimit,
        GroupDesktops(groupLimit, groupInterval));
    server->setDesktopGroups(desktopGroups);
    server->setGroupStreams(parser.isSet(groupStreams));
    if (!desktopGroups.isEmpty() && parser.isSet(filesOnly))
        // The file area carries the default catalog alone.
        server->print(ServiceLog::line(ServiceLog::Priority::Warning,
                                       QStringLiteral("files-only: every group's desktops get "
                                                      "the default catalog from the file area")));
    QString error;
    if (parser.isSet(key)) {
        SigningKey signing = SigningKey::loadPrivate(parser.value(key), &error);
        if (signing.isNull()) {
            std::fprintf(stderr, "catalog-server: %s\n", error.toUtf8().constData());
            return 1;
        }
        server->setSigningKey(std::move(signing), parser.value(key) + QStringLiteral(".sequence"));
        server->setFrameValidity(validity);
    }
    if (parser.isSet(catalog) &&
        (!server->setCatalog(parser.value(catalog), &error) || !server->writeCatalogFile(&error))) {
        std::fprintf(stderr, "catalog-server: %s\n", error.toUtf8().constData());
        return 1;
    }

    if (!fleetPath.isEmpty()) {
        FleetIngest::Settings settings;
        settings.database = fleetPath;
        settings.resultDays = parser.value(resultDays).toInt(&ok);
        if (!ok || settings.resultDays < 1) {
            std::fprintf(stderr, "catalog-server: --result-days must be a positive number\n");
            return 2;
        }
        settings.reportDir = parser.value(reportDir);
        const int interval = parser.value(reportInterval).toInt(&ok);
        if (!ok || interval < 0) {
            std::fprintf(stderr, "catalog-server: --report-interval must be 0 or more seconds\n");
            return 2;
        }
        settings.reportIntervalMs = interval * 1000;
        // Never deleted: the receiving thread uses it until the process ends.
        auto *fleet = new FleetIngest(
            settings,
            [server](const QString &desktop, const QStringList &ids) {
                server->acknowledgeReports(desktop, ids);
            },
            [server](const QString &line) { server->print(line); });
        if (!fleet->start(&error)) {
            std::fprintf(stderr, "catalog-server: %s\n", error.toUtf8().constData());
            return 1;
        }
        server->setFleet(fleet);
    }

    RepositoryFollower *follower = nullptr;
    if (parser.isSet(repository)) {
        RepositoryFollower::Settings settings;
        settings.checks = checks;
        if (!unsignedWarning.isEmpty())
            server->print(ServiceLog::line(ServiceLog::Priority::Warning, unsignedWarning));
        settings.repository = parser.value(repository);
        settings.overrides = parser.value(overrides);
        settings.locale = parser.value(locale);
        settings.files = parser.value(files);
        settings.settleMs = qMax(0, parser.value(settle).toInt());
        settings.groups = desktopGroups.names().mid(1);
        bool archiveOk = false;
        bool memberOk = false;
        settings.checks.icons.archive = parser.value(maxIconArchive).toLongLong(&archiveOk);
        settings.checks.icons.member = parser.value(maxIcon).toLongLong(&memberOk);
        if (!archiveOk || !memberOk || settings.checks.icons.archive < 0 ||
            settings.checks.icons.member < 0) {
            std::fprintf(stderr, "catalog-server: --max-icon-archive and --max-icon must be "
                                 "numbers of bytes\n");
            return 2;
        }
        follower = new RepositoryFollower(server, settings);
        // Unreadable now: serve an empty catalog and publish once the repository reads.
        if (!follower->publishFirst(&error)) {
            server->print(ServiceLog::line(ServiceLog::Priority::Error, error));
            if (parser.isSet(noServe))
                return 1;
        }
    }

    if (!parser.value(commands).isEmpty()) {
        QFile file(parser.value(commands));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            std::fprintf(stderr, "catalog-server: cannot read %s\n",
                         parser.value(commands).toUtf8().constData());
            return 1;
        }
        QTextStream in(&file);
        in.setCodec("UTF-8");
        while (!in.atEnd())
            if (!server->command(in.readLine()))
                return 0;
    }
    if (parser.isSet(noServe))
        return 0;

    std::thread receiver([server]() {
        if (!server->serve()) {
            std::fprintf(stderr, "catalog-server: cannot receive on the transport\n");
            std::exit(1);
        }
    });
    if (follower)
        std::thread([follower]() { follower->follow(); }).detach();
    if (parser.isSet(key) && validity > 0)
        // Signed anew before half its validity has passed: a store fetching it late still
        // gets a catalog it takes.
        std::thread([server, validity]() {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::seconds(qMax<qint64>(1, validity / 2)));
                QString error;
                if (!server->writeCatalogFile(&error))
                    server->print(ServiceLog::line(ServiceLog::Priority::Error, error));
            }
        }).detach();
    if (parser.isSet(key) && beatEvery > 0)
        std::thread([server, beatEvery]() {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::seconds(beatEvery));
                QString error;
                if (server->sendHeartbeat(&error) < 0)
                    server->print(ServiceLog::line(ServiceLog::Priority::Error, error));
            }
        }).detach();
    std::string line;
    while (std::getline(std::cin, line))
        if (!server->command(QString::fromStdString(line)))
            std::exit(0);
    // Without a command input the server keeps answering until it is stopped.
    receiver.join();
    return 0;
}
