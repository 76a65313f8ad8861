#pragma once

#include "repository/catalogoverrides.h"
#include "repository/repositorychecks.h"
#include "repository/updateinfoadvisories.h"
#include "repository/versionhold.h"
#include "serving/servicelog.h"
#include "sync/catalogpackage.h"
#include "sync/framesequence.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>
#include <mutex>

class CatalogServer;
class ServerConsole;

// Keeps a catalog server's catalog in step with a dnf repository. It watches the content of
// repodata/repomd.xml (and of the override file), waits until a rewrite has settled, reads the
// repository and pushes what changed since the catalog it last published; the catalog file,
// the push file and the icons of the file area follow. Whatever fails to read leaves the last
// published catalog in place. Each group of desktops gets its own catalog and pushes.
class RepositoryFollower
{
public:
    struct Settings {
        QString repository;
        QString overrides; // empty: none
        QString locale = QStringLiteral("zh_CN");
        QString files; // HTTP file area for icons, empty: none
        // Told each package's newest version-release once the repository has been read;
        // answers the versions groups are held to then (a rollout's), in place of setHolds'.
        // The repository's advisories come along (a security fix may go out sooner).
        std::function<VersionHolds(const QHash<QString, QString> &newest,
                                   const UpdateInfoAdvisories &advisories)>
            observed;
        // Told the repository's advisories at each read (the fleet database keeps them).
        std::function<void(const QVector<Advisory> &advisories)> advisoriesRead;
        int pollMs = 1000;
        int settleMs = 2000; // how long repomd.xml must stay the same before it is read
        RepositoryChecks checks;
        QStringList groups; // the groups of desktops besides "default"
        // Keeps the time stamp of the newest signed state published across restarts; empty:
        // kept while the service runs only.
        QString publishedState;
    };

    RepositoryFollower(CatalogServer *server, Settings settings);

    // The first catalog; false with *error set when the repository cannot be read now.
    bool publishFirst(QString *error);
    // Watches and publishes while rest(ms), waiting ms between two looks, says to go on.
    void follow(const std::function<bool(int ms)> &rest);
    // One look at the repository; true when a new catalog was published.
    bool check();

    // The versions groups are held to besides the pins of the overrides (a rollout's), from the
    // next publish on.
    void setHolds(const VersionHolds &holds);
    // Reads the repository now and pushes to each group what changed of its catalog (after
    // setHolds, say); false with *error set when it cannot be read.
    bool republish(QString *error);
    // "reread" on the console: republish() now.
    void addCommands(ServerConsole *console);
    // Per package, the version-releases the repository kept at the last publish, newest first.
    QHash<QString, QStringList> versionReleases() const;
    // The version-release of package group is served: its catalog's, else (a package outside
    // the catalog) the one a hold or pin keeps the group on, else the repository's newest;
    // empty when the repository has none.
    QString servedVersion(const QString &group, const QString &package) const;
    // The same from what a publish read (catalogs and version-releases per package, as
    // RepositoryCatalog gives them) and the holds, those that win first (pins, then rollouts').
    static QString servedOf(const QHash<QString, QVector<CatalogPackage>> &catalogs,
                            const QHash<QString, QStringList> &versionReleases,
                            const QVector<VersionHolds> &holdsInOrder, const QString &group,
                            const QString &package);
    // The require and remove statements of the override file last loaded.
    Requirements requirements() const;

private:
    QByteArray overridesDigest() const;
    bool publish(bool first, QString *error);
    void log(ServiceLog::Priority priority, const QString &text);
    void copyIcons(const QHash<QString, QByteArray> &icons);
    void removeStaleIcons(const QHash<QString, QByteArray> &icons);

    // Pushes to each group what changed of its catalog.
    void pushChanges(const QHash<QString, QVector<CatalogPackage>> &catalogs);
    // What servedVersion and requirements answer from, taken with m_lock held.
    void keepServed();

    CatalogServer *const m_server;
    const Settings m_settings;
    mutable std::mutex m_lock; // one publish at a time; guards the holds and what was published
    VersionHolds m_holds;
    QHash<QString, QStringList> m_versionReleases;
    CatalogOverrides m_overrides;
    QByteArray m_loadedOverrides; // digest of the override file last loaded, good or not
    QHash<QString, QVector<CatalogPackage>> m_published; // per group
    // The plans' and status pages' view, apart from m_lock: a publish holds that for as long
    // as the repository takes to read, and the fleet's writer must not wait for it.
    mutable std::mutex m_servedLock;
    QHash<QString, QVector<CatalogPackage>> m_servedCatalogs;
    QHash<QString, QStringList> m_servedVersionReleases;
    QVector<VersionHolds> m_servedHolds; // the pins, then the rollouts' holds
    Requirements m_servedRequirements;
    QByteArray m_publishedRepomd;
    qint64 m_publishedTimestamp = 0;
    std::unique_ptr<FrameSequence> m_publishedState;
    QByteArray m_seenRepomd; // last digest seen, and since when unchanged
    qint64 m_seenSince = 0;
    QString m_lastFailure; // logged once until something else happens
    // A repository that failed is read again, unchanged, ever less often: a file may still
    // arrive, but a bomb is not decompressed every second.
    QByteArray m_failedRepomd;
    qint64 m_retryAt = 0;
    qint64 m_retryMs = 0;
};
