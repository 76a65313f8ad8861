#pragma once

#include "catalogoverrides.h"
#include "repositorychecks.h"
#include "sync/catalogpackage.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

// The catalog of a dnf repository: its newest packages (primary metadata, libsolv), named,
// described, categorised and given icons by its AppStream data, then changed by the
// administrator's overrides. Only packages with AppStream data or an "add" line enter.
class RepositorySnapshot;

class RepositoryCatalog
{
public:
    RepositoryCatalog(const CatalogOverrides &overrides, const QString &locale,
                      const RepositoryChecks &checks = RepositoryChecks());

    // Reads one consistent state of the repository. False with *error set, and nothing
    // changed, when it is unreadable, in the middle of an update or its AppStream data broken.
    bool read(const QString &directory, QString *error);

    QByteArray repomdDigest() const { return m_digest; }
    // The newest timestamp repomd.xml gives its files.
    qint64 timestamp() const { return m_timestamp; }
    // Sorted by package name. Display names are unique: packages that claim one name are
    // each shown as "NAME (package)" until the overrides settle it.
    const QVector<CatalogPackage> &packages() const { return m_packages; }
    // Icon file name (the package name + ".png") to its bytes.
    const QHash<QString, QByteArray> &icons() const { return m_icons; }
    // Packages left out or changed, with why, for the log.
    const QStringList &notes() const { return m_notes; }

private:
    // Makes the display names unique; the notes say which override settles each clash.
    static void separateNames(QVector<CatalogPackage> &packages, const QSet<QString> &fixed,
                              QStringList *notes);
    // Icon file name to its bytes, the first of its wanted icons an archive holds.
    bool readIcons(const RepositorySnapshot &snapshot, const QHash<QString, QStringList> &wanted,
                   QHash<QString, QByteArray> *icons, QStringList *notes, QString *error) const;

    const CatalogOverrides m_overrides;
    const QString m_locale;
    const RepositoryChecks m_checks;
    QByteArray m_digest;
    qint64 m_timestamp = 0;
    QVector<CatalogPackage> m_packages;
    QHash<QString, QByteArray> m_icons;
    QStringList m_notes;
};
