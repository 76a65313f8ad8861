#include "rollout/rolloutservice.h"

#include "fleet/fleetingest.h"
#include "rollout/rolloutbook.h"
#include "serving/catalogserver.h"
#include "serving/serverconsole.h"
#include "serving/servicelog.h"

#include <QCommandLineParser>
#include <QDateTime>

#include <chrono>
#include <cstdio>

namespace
{

bool isVerb(const QString &word)
{
    return word == QLatin1String("promote") || word == QLatin1String("resume") ||
           word == QLatin1String("halt");
}

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

QList<QCommandLineOption> RolloutService::options()
{
    return {
        {QStringLiteral("rollout-pilot"),
         QStringLiteral("Staged rollout: these groups (spaces or commas between) get a new "
                        "version of a package at once, every other group keeps the version "
                        "before until --stage-delay has passed or \"promote PACKAGE\" (a "
                        "sub-command, or a command line) releases it. Needs the fleet "
                        "database."),
         QStringLiteral("groups")},
        {QStringLiteral("stage-delay"),
         QStringLiteral("How long the pilot groups have a new version alone: seconds, or a "
                        "number with s, m, h or d (default 24h)."),
         QStringLiteral("time"), QStringLiteral("24h")},
        {QStringLiteral("halt-failures"),
         QStringLiteral("Halt a rollout when this many pilot desktops (a count, or a share of "
                        "those that tried, like 10%) failed to install the new version: the "
                        "others stay on the version before until \"resume PACKAGE\" (default "
                        "10%)."),
         QStringLiteral("count"), QStringLiteral("10%")},
        {QStringLiteral("stage-delay-security"),
         QStringLiteral("A shorter pilot stage for a version that fixes a security advisory of "
                        "the repository's updateinfo, per severity: \"critical 2h, important "
                        "12h\" (a graver one waits no longer than a milder one; the pilot goes "
                        "first and halt-failures holds as ever)."),
         QStringLiteral("delays")},
    };
}

bool RolloutService::policy(const QCommandLineParser &parser, RolloutPolicy *policy, QString *error)
{
    return RolloutPolicy::parse(parser.value(QStringLiteral("rollout-pilot")),
                                parser.value(QStringLiteral("stage-delay")),
                                parser.value(QStringLiteral("halt-failures")), policy, error) &&
           policy->setSecurityDelays(parser.value(QStringLiteral("stage-delay-security")), error);
}

int RolloutService::subcommand(const QStringList &positional, const QString &fleetPath)
{
    if (positional.size() != 2 || !isVerb(positional[0]))
        return -1;
    const QString answer =
        fleetPath.isEmpty()
            ? QStringLiteral("error %1: no fleet database (--fleet-db)").arg(positional[0])
            : RolloutBook::command(fleetPath, positional[0], positional[1], now(),
                                   FleetAudit::Actor::local(QStringLiteral("command line")));
    std::printf("%s\n", answer.toUtf8().constData());
    return answer.startsWith(QLatin1String("ok ")) ? 0 : 1;
}

bool RolloutService::start(const RolloutPolicy &policy, const QStringList &groups,
                           RolloutBook::GroupOf groupOf, const QString &fleetPath,
                           CatalogServer *server, FleetIngest *fleet, QString *error)
{
    if (!policy.isSet())
        return true;
    if (fleetPath.isEmpty()) {
        *error = QStringLiteral("--rollout-pilot needs the fleet database (--fleet-db)");
        return false;
    }
    // A misspelt pilot would hold every group and promote what nobody tried.
    for (const QString &pilot : policy.pilots())
        if (!groups.contains(pilot)) {
            *error = QStringLiteral("--rollout-pilot: no group is named %1 (groups: %2)")
                         .arg(pilot, groups.join(QStringLiteral(", ")));
            return false;
        }
    m_server = server;
    m_fleet = fleet;
    if (!groupOf)
        groupOf = [](const QString &, const QString &) { return QStringLiteral("default"); };
    m_book = std::make_unique<RolloutBook>(
        policy, groups, std::move(groupOf), [server](bool warning, const QString &line) {
            server->print(ServiceLog::line(
                warning ? ServiceLog::Priority::Warning : ServiceLog::Priority::Info, line));
        });
    return m_book->open(fleetPath, error);
}

void RolloutService::follow(RepositoryFollower::Settings *settings) const
{
    if (m_book)
        settings->observed = [this](const QHash<QString, QString> &newest,
                                    const UpdateInfoAdvisories &advisories) {
            m_book->observe(newest, now(),
                            [&advisories](const QString &package, const QString &previous,
                                          const QString &version) {
                                return advisories.securitySeverity(package, previous, version);
                            });
            bool changed = false;
            return takeHolds(&changed);
        };
}

bool RolloutService::command(const ServerConsole::Line &line) const
{
    const QStringList &words = line.words;
    if (!m_book || words.size() != 2 || !isVerb(words[0]))
        return false;
    m_server->print(m_book->command(words[0], words[1], now(), line.actor));
    line.audited = true;
    return true;
}

VersionHolds RolloutService::holds() const
{
    return m_book ? m_book->holds() : VersionHolds();
}

VersionHolds RolloutService::takeHolds(bool *changed) const
{
    *changed = m_book->poll(now());
    const VersionHolds holds = m_book->holds();
    if (!*changed)
        return holds;
    QStringList held;
    for (const VersionHold &hold : holds)
        held << QStringLiteral("%1 %2 for %3").arg(hold.package, hold.versionRelease, hold.group);
    m_server->print(ServiceLog::line(
        ServiceLog::Priority::Info,
        QStringLiteral("rollout holds now: ") +
            (held.isEmpty() ? QStringLiteral("none") : held.join(QStringLiteral(", ")))));
    return holds;
}

void RolloutService::look(const std::function<void(const VersionHolds &holds)> &apply) const
{
    if (!m_book)
        return;
    bool changed = false;
    const VersionHolds holds = takeHolds(&changed);
    if (m_fleet && (changed || m_book->changes() != m_paged)) {
        m_paged = m_book->changes();
        m_fleet->refreshPage();
    }
    if (changed && apply)
        apply(holds);
}

void RolloutService::addCommands(ServerConsole *console) const
{
    for (const char *verb : {"promote", "resume", "halt"})
        console->add(QLatin1String(verb), 2, 2, [this](const ServerConsole::Line &line) {
            if (!command(line))
                m_server->print(QStringLiteral("error no rollouts: set rollout-pilot"));
            return true;
        });
}
