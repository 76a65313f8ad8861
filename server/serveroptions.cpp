#include "serveroptions.h"

#include "groups/desktopgroups.h"
#include "groups/groupdesktops.h"
#include "records/paths.h"
#include "repository/catalogoverrides.h"
#include "repository/repositorysignature.h"
#include "rollout/rolloutservice.h"
#include "serversettings.h"
#include "serving/brokersetup.h"
#include "serving/catalogserver.h"
#include "serving/clienttable.h"
#include "sync/framesigner.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <limits>

namespace
{

bool isUrl(const QString &location)
{
    return location.startsWith(QLatin1String("http://")) ||
           location.startsWith(QLatin1String("https://"));
}

void complain(const QString &text)
{
    std::fprintf(stderr, "catalog-server: %s\n", text.toUtf8().constData());
}

// When a number option counts.
enum class Need { Always, Repository, Fleet };

// A number option within least..most; what: how --help and the error spell its kind, the
// range when null.
struct Number {
    const char *option;
    double least;
    double most;
    const char *what;
    Need need;
    qint64 *whole; // one of whole and real is set
    double *real;
};

bool readNumber(const QCommandLineParser &parser, const Number &number)
{
    const QString text = parser.value(QLatin1String(number.option));
    bool ok = false;
    const double value = number.real ? text.toDouble(&ok) : double(text.toLongLong(&ok));
    // Written so that NaN fails too.
    if (ok && value >= number.least && value <= number.most) {
        if (number.real)
            *number.real = value;
        else
            *number.whole = text.toLongLong();
        return true;
    }
    complain(number.what ? QStringLiteral("--%1 must be %2")
                               .arg(QLatin1String(number.option), QLatin1String(number.what))
                         : QStringLiteral("--%1 must be %2..%3")
                               .arg(QLatin1String(number.option))
                               .arg(qint64(number.least))
                               .arg(qint64(number.most)));
    return false;
}

} // namespace

ServerOptions::ServerOptions()
{
    m_parser.setApplicationDescription(
        QStringLiteral("Answers join_requ with join_resp and data_requ with the catalog as "
                       "data_resp frame(s); pushes frames on command.\n"
                       "Through the broker a request is answered at the desktop of the account "
                       "that sent it (desk-A: A; group-P: the address the frame names, within P, "
                       "whose queue the server makes); over direct TCP at the address the "
                       "connection came from, whatever the frame names.\n") +
        QLatin1String(CatalogServer::CatalogProtocol) + QStringLiteral("\n\n") +
        QLatin1String(CatalogServer::CommandsHelp) + QStringLiteral("\n\n") +
        QLatin1String(CatalogOverrides::Syntax) + QStringLiteral("\n\n") +
        QLatin1String(ServerSettings::Syntax) + QStringLiteral("\n") +
        QLatin1String(DesktopGroups::Syntax));
    m_parser.addHelpOption();
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
    const QCommandLineOption repositoryState(
        QStringLiteral("repository-state"),
        QStringLiteral("Keep the time stamp of the newest signed repository state published in "
                       "this file, so that an older one, validly signed, is refused after a "
                       "restart too (remove the file to go back on purpose)."),
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
    m_parser.addOptions({catalog,
                         files,
                         bind,
                         port,
                         config,
                         maxFrame,
                         commands,
                         noServe,
                         filesOnly,
                         verbose,
                         maxClients,
                         key,
                         makeKey,
                         repository,
                         overrides,
                         locale,
                         settle,
                         serverConfig,
                         repositoryKey,
                         repositoryState,
                         allowUnsigned,
                         maxRepomd,
                         maxMetadata,
                         maxUnpacked,
                         maxCatalog,
                         maxIconArchive,
                         maxIcon,
                         frameValidity,
                         heartbeat,
                         maxGroupDesktops,
                         groupDesktopInterval,
                         fleetDb,
                         resultDays,
                         reportDir,
                         reportInterval,
                         format});
    m_parser.addOptions(
        {{QStringLiteral("desktop-group"),
          QStringLiteral("A group of desktops with a catalog and pushes of its own: \"NAME "
                         "MEMBER...\", each MEMBER an address, ADDRESS/BITS or account:ACCOUNT; "
                         "once per group, the first that matches wins (default: \"default\")."),
          QStringLiteral("definition")},
         {QStringLiteral("group-streams"),
          QStringLiteral("Through the broker, push a group's own changes into its stream "
                         "(scripts/broker accounts --desktop-group, with the same groups).")}});
    m_parser.addOptions(RolloutService::options());
    m_parser.addOptions(ApiService::options());
}

ServerOptions::~ServerOptions() = default;

int ServerOptions::parse(QCoreApplication &app)
{
    m_parser.process(app);
    if (!isSet("server-config"))
        return 0;
    QStringList fromFile;
    QString error;
    if (!ServerSettings::options(value("server-config"), &fromFile, &error)) {
        complain(error);
        return 2;
    }
    // Later values win: the file's options go before those of the command line.
    const QStringList given = app.arguments();
    m_parser.process(given.mid(0, 1) + fromFile + given.mid(1));
    return 0;
}

QString ServerOptions::fleetDatabase() const
{
    if (isSet("fleet-db"))
        return value("fleet-db");
    return isSet("server-config") ? Paths::fleetDatabase() : QString();
}

int ServerOptions::check()
{
    constexpr double Most = double(std::numeric_limits<qint64>::max() / 2);
    const double int32 = std::numeric_limits<int>::max();
    qint64 maxPackages = 0;
    const Number numbers[] = {
        {"max-frame", 128, 65535, nullptr, Need::Always, &maxFrame, nullptr},
        {"frame-validity", -Most, Most, "a number of seconds", Need::Always, &frameValidity,
         nullptr},
        {"heartbeat", 0, Most, "a number of seconds", Need::Always, &heartbeat, nullptr},
        {"max-clients", 1, int32, "a positive number", Need::Always, &maxClients, nullptr},
        {"max-group-desktops", 0, int32, "a number", Need::Always, &maxGroupDesktops, nullptr},
        {"group-desktop-interval", 0, 1e9, "seconds", Need::Always, nullptr, &groupDesktopInterval},
        // A QByteArray holds at most 2 GiB.
        {"max-repomd", 1024, double(qint64(64) << 20), nullptr, Need::Repository,
         &checks.maxRepomdBytes, nullptr},
        {"max-metadata", 1024, double(qint64(1) << 30), nullptr, Need::Repository,
         &checks.maxFileBytes, nullptr},
        {"max-unpacked", 1024, double(qint64(1) << 30), nullptr, Need::Repository,
         &checks.maxUnpackedBytes, nullptr},
        {"max-catalog", 1, int32, "a positive number", Need::Repository, &maxPackages, nullptr},
        {"max-icon-archive", 0, Most, "a number of bytes", Need::Repository, &checks.icons.archive,
         nullptr},
        {"max-icon", 0, Most, "a number of bytes", Need::Repository, &checks.icons.member, nullptr},
        {"settle", 0, int32, "0 or more milliseconds", Need::Repository, &settleMs, nullptr},
        {"result-days", 1, 1e6, "a positive number", Need::Fleet, &resultDays, nullptr},
        {"report-interval", 0, 1e6, "0 or more seconds", Need::Fleet, &reportInterval, nullptr},
    };
    const bool repository = isSet("repository");
    const bool fleet = !fleetDatabase().isEmpty();
    for (const Number &number : numbers) {
        const bool needed = number.need == Need::Always ||
                            (number.need == Need::Repository && repository) ||
                            (number.need == Need::Fleet && fleet);
        if (needed && !readNumber(m_parser, number))
            return 2;
    }
    if (frameValidity == 0) {
        complain(QStringLiteral("--frame-validity must be a number of seconds"));
        return 2;
    }
    checks.maxPackages = int(maxPackages);
    for (const QString &definition : m_parser.values(QStringLiteral("desktop-group"))) {
        if (QString wrong; !desktopGroups.add(definition, &wrong)) {
            complain(wrong);
            return 2;
        }
    }
    if (QString wrong; !RolloutService::policy(m_parser, &rollout, &wrong) ||
                       !ApiService::settings(m_parser, &api, &wrong)) {
        complain(wrong);
        return 2;
    }
    return repository && !loadRepositoryKey() ? 2 : 0;
}

bool ServerOptions::loadRepositoryKey()
{
    const QString repository = value("repository");
    const QString keyFile = value("repository-key");
    if (keyFile.isEmpty()) {
        // A folder's owner is trusted as the server's own files are; a network path is not.
        if (isUrl(repository) && !isSet("allow-unsigned-repository")) {
            complain(QStringLiteral("%1 is fetched over the network: name its OpenPGP key with "
                                    "repository-key, or set allow-unsigned-repository")
                         .arg(repository));
            return false;
        }
        if (isUrl(repository))
            unsignedWarning = QStringLiteral("repository %1 is followed unsigned: whoever is on "
                                             "the network path chooses the catalog")
                                  .arg(repository);
        return true;
    }
    m_signature = std::make_unique<RepositorySignature>();
    QString error;
    if (!m_signature->load(keyFile, &error)) {
        complain(error);
        return false;
    }
    checks.signature = m_signature.get();
    return true;
}

void ServerOptions::prepareTransport() const
{
    // The transport reads its settings from the environment.
    qputenv("VQS_BIND", value("bind").toUtf8());
    // A sender thread for each client pushed to, and some for those answered meanwhile.
    if (qEnvironmentVariableIsEmpty("VQS_MAX_LANES"))
        qputenv("VQS_MAX_LANES", QByteArray::number(maxClients + 256));
    if (isSet("port"))
        qputenv("VQS_PORT", value("port").toUtf8());
    if (isSet("config"))
        qputenv("VQS_CONFIG", value("config").toUtf8());
    BrokerSetup::prepare();
}
