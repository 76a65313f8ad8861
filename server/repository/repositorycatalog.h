#pragma once

#include "repository/appstreamcollection.h"
#include "repository/catalogoverrides.h"
#include "repository/repositorychecks.h"
#include "repository/repositorypackage.h"
#include "repository/updateinfoadvisories.h"
#include "repository/versionhold.h"
#include "sync/catalogpackage.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

// The catalog of a dnf repository: its newest packages (primary metadata, libsolv), named,
// described, categorised and given icons by its AppStream data, then changed by the
// administrator's overrides. Only packages with AppStream data or an "add" line enter. One
// catalog per group of desktops: the group's overrides, and the versions it is held to while
// the repository keeps them.
class RepositorySnapshot;

class RepositoryCatalog
{
public:
    RepositoryCatalog(const CatalogOverrides &overrides, const QString &locale,
                      const RepositoryChecks &checks = RepositoryChecks());

    // Reads one consistent state of the repository. False with *error set, and nothing
    // changed, when it is unreadable, in the middle of an update or its AppStream data broken.
    bool read(const QString &directory, QString *error);
    // The same, with a catalog for each of groups besides "default"; holds (pins first: the
    // first hold of a package and group wins, one of the group's before one for every group).
    bool read(const QString &directory, const QStringList &groups, const VersionHolds &holds,
              QString *error);

    QByteArray repomdDigest() const { return m_digest; }
    // The newest timestamp repomd.xml gives its files.
    qint64 timestamp() const { return m_timestamp; }
    // Sorted by package name. Display names are unique: packages that claim one name are
    // each shown as "NAME (package)" until the overrides settle it.
    const QVector<CatalogPackage> &packages() const { return m_packages; }
    // The catalog of each group read, "default" included.
    const QHash<QString, QVector<CatalogPackage>> &catalogs() const { return m_catalogs; }
    // Per package name, the version-releases the repository keeps, newest first.
    QHash<QString, QStringList> versionReleases() const;
    // Icon file name (the package name + ".png") to its bytes.
    const QHash<QString, QByteArray> &icons() const { return m_icons; }
    // The repository's advisories (repomd type "updateinfo"), none when it has none.
    const UpdateInfoAdvisories &advisories() const { return m_advisories; }
    // Each icon archive read, with the layout found in it, for the log.
    const QStringList &iconLayouts() const { return m_iconLayouts; }
    // Packages left out or changed, with why, for the log.
    const QStringList &notes() const { return m_notes; }

private:
    // The catalog of one group, its icons wanted added to *iconSources.
    QVector<CatalogPackage> compose(const QString &group, const VersionHolds &holds,
                                    QHash<const RepositoryPackage *, CatalogPackage> *bases,
                                    QHash<QString, QStringList> *iconSources,
                                    QStringList *notes) const;
    // The entry of one package as its AppStream data makes it, overrides aside; without rpm
    // when it is left out (said in *notes).
    CatalogPackage entryOf(const RepositoryPackage &rpm, QStringList *notes) const;
    // Makes the display names unique; the notes say which override settles each clash.
    static void separateNames(QVector<CatalogPackage> &packages, const QSet<QString> &fixed,
                              QStringList *notes);
    // Icon file name to its bytes, the first of its wanted icons an archive holds; each
    // archive read and its layout in *layouts.
    bool readIcons(const RepositorySnapshot &snapshot, const QHash<QString, QStringList> &wanted,
                   QHash<QString, QByteArray> *icons, QStringList *notes, QStringList *layouts,
                   QString *error) const;

    const CatalogOverrides m_overrides;
    const QString m_locale;
    const RepositoryChecks m_checks;
    QByteArray m_digest;
    qint64 m_timestamp = 0;
    QVector<CatalogPackage> m_packages;
    QHash<QString, QVector<CatalogPackage>> m_catalogs;
    QVector<RepositoryPackage> m_all; // every version, by name, newest first
    QHash<QString, AppStreamApplication> m_applications;
    QHash<QString, QByteArray> m_icons;
    QStringList m_iconLayouts;
    UpdateInfoAdvisories m_advisories;
    QStringList m_notes;
};
