#include "serving/repositoryfollower.h"

#include "groups/desktopgroups.h"
#include "queues/taskpackage.h"
#include "repository/catalogdiff.h"
#include "repository/repositorycatalog.h"
#include "repository/repositorysnapshot.h"
#include "serving/catalogserver.h"
#include "serving/filearea.h"
#include "serving/serverconsole.h"
#include "serving/servicelog.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <thread>

namespace
{

// Each package a group's catalog carries, at the newest version-release the repository keeps.
QHash<QString, QString> newestOf(const RepositoryCatalog &catalog)
{
    const QHash<QString, QStringList> kept = catalog.versionReleases();
    QHash<QString, QString> newest;
    for (const QVector<CatalogPackage> &packages : catalog.catalogs())
        for (const CatalogPackage &package : packages) {
            const QString name = TaskPackage(package.rpm).name;
            if (!kept.value(name).isEmpty())
                newest.insert(name, kept.value(name).first());
        }
    return newest;
}

bool sameHolds(const VersionHolds &a, const VersionHolds &b)
{
    const auto same = [](const VersionHold &x, const VersionHold &y) {
        return x.package == y.package && x.group == y.group && x.versionRelease == y.versionRelease;
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), same);
}

constexpr qint64 MaxRetryMs = 60000;
// The icons the service put in the file area, one name a line.
const QString IconList = QStringLiteral(".cv_data/icons");

} // namespace

RepositoryFollower::RepositoryFollower(CatalogServer *server, Settings settings)
    : m_server(server), m_settings(std::move(settings))
{
    if (!m_settings.publishedState.isEmpty()) {
        m_publishedState = std::make_unique<FrameSequence>(m_settings.publishedState, true);
        m_publishedTimestamp = qint64(m_publishedState->last());
    }
}

QByteArray RepositoryFollower::overridesDigest() const
{
    if (m_settings.overrides.isEmpty())
        return QByteArray();
    QFile file(m_settings.overrides);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("unreadable");
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

void RepositoryFollower::setHolds(const VersionHolds &holds)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_holds = holds;
    keepServed();
}

void RepositoryFollower::addCommands(ServerConsole *console)
{
    console->add(QStringLiteral("reread"), 1, 1, [this](const ServerConsole::Line &) {
        QString error;
        m_server->print(republish(&error) ? QStringLiteral("ok reread")
                                          : QStringLiteral("error reread: ") + error);
        return true;
    });
}

bool RepositoryFollower::republish(QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return publish(false, error);
}

QHash<QString, QStringList> RepositoryFollower::versionReleases() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_versionReleases;
}

QString RepositoryFollower::servedVersion(const QString &group, const QString &package) const
{
    std::lock_guard<std::mutex> guard(m_servedLock);
    return servedOf(m_servedCatalogs, m_servedVersionReleases, m_servedHolds, group, package);
}

void RepositoryFollower::keepServed()
{
    // Copies that share their data: a reader never waits for a repository being read.
    std::lock_guard<std::mutex> guard(m_servedLock);
    m_servedCatalogs = m_published;
    m_servedVersionReleases = m_versionReleases;
    m_servedHolds = {m_overrides.pins(), m_holds};
    m_servedRequirements = m_overrides.requirements();
}

QString RepositoryFollower::servedOf(const QHash<QString, QVector<CatalogPackage>> &catalogs,
                                     const QHash<QString, QStringList> &versionReleases,
                                     const QVector<VersionHolds> &holdsInOrder,
                                     const QString &group, const QString &package)
{
    const auto catalog =
        catalogs.constFind(catalogs.contains(group) ? group : QStringLiteral("default"));
    if (catalog != catalogs.cend())
        for (const CatalogPackage &entry : *catalog)
            if (entry.icon == package && entry.rpm.startsWith(package + QLatin1Char('-')))
                return entry.rpm.mid(package.size() + 1);
    const QStringList kept = versionReleases.value(package);
    // The group's own hold first, then one for everyone; the administrator's pins win.
    for (const VersionHolds &holds : holdsInOrder)
        for (const QString &holder : {group, QString()})
            for (const VersionHold &hold : holds)
                if (hold.package == package && hold.group == holder &&
                    kept.contains(hold.versionRelease))
                    return hold.versionRelease;
    return kept.value(0);
}

Requirements RepositoryFollower::requirements() const
{
    std::lock_guard<std::mutex> guard(m_servedLock);
    return m_servedRequirements;
}

bool RepositoryFollower::publishFirst(QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_seenRepomd = RepositorySnapshot::currentDigest(m_settings.repository, m_settings.checks);
    m_seenSince = QDateTime::currentMSecsSinceEpoch();
    return publish(true, error);
}

void RepositoryFollower::follow(const std::function<bool(int ms)> &rest)
{
    while (rest(m_settings.pollMs))
        check();
}

bool RepositoryFollower::check()
{
    // A republish from the command input may run meanwhile: one look or publish at a time.
    std::lock_guard<std::mutex> guard(m_lock);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QByteArray repomd =
        RepositorySnapshot::currentDigest(m_settings.repository, m_settings.checks);
    if (repomd != m_seenRepomd) {
        m_seenRepomd = repomd;
        m_seenSince = now;
    }
    const bool repositoryChanged = repomd != m_publishedRepomd;
    const bool overridesChanged = overridesDigest() != m_loadedOverrides;
    // A repository being rewritten changes repomd.xml more than once: read it when it rests.
    if ((!repositoryChanged && !overridesChanged) || now - m_seenSince < m_settings.settleMs)
        return false;
    if (repomd == m_failedRepomd && now < m_retryAt && !overridesChanged)
        return false;
    QString error;
    if (publish(false, &error)) {
        m_lastFailure.clear();
        m_failedRepomd.clear();
        return true;
    }
    m_retryMs = repomd == m_failedRepomd ? qMin<qint64>(2 * m_retryMs, MaxRetryMs)
                                         : qint64(m_settings.pollMs);
    m_failedRepomd = repomd;
    m_retryAt = now + m_retryMs;
    if (error != m_lastFailure)
        log(ServiceLog::Priority::Error, QStringLiteral("repository not read: ") + error +
                                             QStringLiteral("; still serving the last catalog"));
    m_lastFailure = error;
    return false;
}

bool RepositoryFollower::publish(bool first, QString *error)
{
    const QByteArray overridesNow = overridesDigest();
    if (overridesNow != m_loadedOverrides || first) {
        m_loadedOverrides = overridesNow;
        CatalogOverrides loaded;
        if (!m_settings.overrides.isEmpty() && !loaded.load(m_settings.overrides, error))
            return false;
        m_overrides = loaded;
        keepServed();
    }
    RepositoryChecks checks = m_settings.checks;
    // Signed: the network path must not take the catalog back to an older signed state.
    if (checks.signature)
        checks.notBefore = m_publishedTimestamp;
    auto catalog = std::make_unique<RepositoryCatalog>(m_overrides, m_settings.locale, checks);
    if (!catalog->read(m_settings.repository, m_settings.groups, m_holds, error))
        return false;
    // A rollout learns of a new version before any group is served it: a store never
    // downgrades, so a version given too early cannot be taken back.
    if (m_settings.observed) {
        const VersionHolds holds = m_settings.observed(newestOf(*catalog), catalog->advisories());
        if (!sameHolds(holds, m_holds)) {
            m_holds = holds;
            catalog = std::make_unique<RepositoryCatalog>(m_overrides, m_settings.locale, checks);
            if (!catalog->read(m_settings.repository, m_settings.groups, m_holds, error))
                return false;
        }
    }
    for (const QString &note : catalog->notes())
        log(ServiceLog::Priority::Warning, QStringLiteral("repository: ") + note);
    for (const QString &layout : catalog->iconLayouts())
        log(ServiceLog::Priority::Info, QStringLiteral("repository: ") + layout);
    if (m_settings.advisoriesRead)
        m_settings.advisoriesRead(catalog->advisories().advisories());
    for (const QString &group : m_overrides.groups())
        if (!m_settings.groups.contains(group))
            log(ServiceLog::Priority::Warning,
                QStringLiteral("overrides name group %1, which the configuration does not")
                    .arg(group));

    // Icons first: a store told of a new time stamp fetches the new picture at once.
    copyIcons(catalog->icons());
    const QHash<QString, QVector<CatalogPackage>> before = m_published;
    m_server->setCatalogs(catalog->catalogs());
    if (!m_server->writeCatalogFile(error))
        return false;
    m_published = catalog->catalogs();
    m_versionReleases = catalog->versionReleases();
    keepServed();
    m_publishedRepomd = m_seenRepomd;
    if (checks.signature && catalog->timestamp() > m_publishedTimestamp && m_publishedState &&
        !m_publishedState->advance(quint64(catalog->timestamp())))
        log(ServiceLog::Priority::Error,
            m_settings.publishedState + QStringLiteral(": cannot be written"));
    m_publishedTimestamp = qMax(m_publishedTimestamp, catalog->timestamp());
    // Once no catalog names them: a store told of the deletion no longer fetches them.
    removeStaleIcons(catalog->icons());
    if (first) {
        log(ServiceLog::Priority::Info, QStringLiteral("repository published: %1 packages from %2")
                                            .arg(catalog->packages().size())
                                            .arg(m_settings.repository));
        return true;
    }
    pushChanges(before);
    return true;
}

void RepositoryFollower::pushChanges(const QHash<QString, QVector<CatalogPackage>> &before)
{
    // Every group's diff alike (no group has a catalog of its own): one push for all, as
    // without groups; otherwise each group its own.
    QHash<QString, CatalogDiff> diffs;
    for (const QString &group : QStringList{DesktopGroups::Default} + m_settings.groups)
        diffs.insert(group,
                     CatalogDiff::between(before.value(group, before.value(DesktopGroups::Default)),
                                          m_published.value(group)));
    const CatalogDiff &all = diffs[DesktopGroups::Default];
    const bool alike = std::all_of(diffs.cbegin(), diffs.cend(),
                                   [&](const CatalogDiff &diff) { return diff == all; });
    bool unchanged = true;
    for (auto it = diffs.cbegin(); it != diffs.cend(); ++it) {
        if (alike && it.key() != DesktopGroups::Default)
            continue;
        unchanged = unchanged && it->isEmpty();
        // Deletions before additions: a renamed application is one of each.
        const struct {
            const char *action;
            const QVector<CatalogPackage> &packages;
        } pushes[] = {{"data_delete_push", it->deleted},
                      {"data_add_push", it->added},
                      {"data_update_push", it->updated}};
        for (const auto &push : pushes) {
            if (push.packages.isEmpty())
                continue;
            QString failure;
            const QLatin1String action(push.action);
            const int sent = alike
                                 ? m_server->pushEverywhere(action, push.packages, &failure)
                                 : m_server->pushToGroup(it.key(), action, push.packages, &failure);
            if (sent < 0)
                log(ServiceLog::Priority::Error, failure);
            QStringList names;
            for (const CatalogPackage &package : push.packages)
                names << package.rpm;
            log(ServiceLog::Priority::Info,
                QStringLiteral("repository %1%2 %3 (%4 message(s)): %5")
                    .arg(action)
                    .arg(alike ? QString() : QStringLiteral(" to group ") + it.key())
                    .arg(push.packages.size())
                    .arg(qMax(sent, 0))
                    .arg(names.join(QLatin1Char(' '))));
        }
    }
    if (unchanged)
        log(ServiceLog::Priority::Info, QStringLiteral("repository changed, catalog unchanged"));
}

void RepositoryFollower::log(ServiceLog::Priority priority, const QString &text)
{
    m_server->print(ServiceLog::line(priority, text));
}

void RepositoryFollower::copyIcons(const QHash<QString, QByteArray> &icons)
{
    const FileArea area(m_settings.files);
    if (!area.isSet())
        return;
    QString error;
    for (auto it = icons.cbegin(); it != icons.cend(); ++it) {
        QByteArray current;
        if (area.read(it.key(), &current, &error) && current == it.value())
            continue;
        // Replaced whole: a store fetching it meanwhile gets the old picture or the new one.
        if (!area.write(it.key(), it.value(), &error))
            log(ServiceLog::Priority::Error, error);
    }
}

void RepositoryFollower::removeStaleIcons(const QHash<QString, QByteArray> &icons)
{
    // Only names the service wrote itself (kept in a list of its own) leave the file area.
    const FileArea area(m_settings.files);
    if (!area.isSet())
        return;
    QByteArray listed;
    QString error;
    if (!area.read(IconList, &listed, &error))
        log(ServiceLog::Priority::Error, error);
    const QStringList written = QString::fromUtf8(listed).split(QLatin1Char('\n'));
    QStringList removed;
    for (const QString &name : written) {
        if (name.isEmpty() || icons.contains(name))
            continue;
        if (area.remove(name, &error))
            removed << name;
        else
            log(ServiceLog::Priority::Error, error);
    }
    QStringList kept = icons.keys();
    kept.sort();
    if (!area.write(IconList, kept.join(QLatin1Char('\n')).toUtf8() + '\n', &error))
        log(ServiceLog::Priority::Error, error);
    if (!removed.isEmpty())
        log(ServiceLog::Priority::Info, QStringLiteral("icons no longer in the catalog removed: ") +
                                            removed.join(QLatin1Char(' ')));
}
