#pragma once

#include "catalogoverrides.h"
#include "sync/catalogpackage.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

// The catalog of a dnf repository: its newest packages (primary metadata, libsolv), named,
// described, categorised and given icons by its AppStream data, then changed by the
// administrator's overrides. Only packages with AppStream data or an "add" line enter.
class RepositorySnapshot;

// Bytes of an icon archive once decompressed (over: the repository is not read) and of each
// icon in it (over: that icon is left out with a note).
struct IconBounds {
    qint64 archive = qint64(128) << 20;
    qint64 member = qint64(1) << 20;
};

class RepositoryCatalog
{
public:
    RepositoryCatalog(const CatalogOverrides &overrides, const QString &locale,
                      IconBounds iconBounds = IconBounds());

    // Reads one consistent state of the repository. False with *error set, and nothing
    // changed, when it is unreadable, in the middle of an update or its AppStream data broken.
    bool read(const QString &directory, QString *error);

    QByteArray repomdDigest() const { return m_digest; }
    // Sorted by package name; display names are unique (a later duplicate is left out).
    const QVector<CatalogPackage> &packages() const { return m_packages; }
    // Icon file name (the package name + ".png") to its bytes.
    const QHash<QString, QByteArray> &icons() const { return m_icons; }
    // Packages left out, with why, for the log.
    const QStringList &notes() const { return m_notes; }

private:
    // Icon file name to its bytes, the first of its wanted icons an archive holds.
    bool readIcons(const RepositorySnapshot &snapshot, const QHash<QString, QStringList> &wanted,
                   QHash<QString, QByteArray> *icons, QStringList *notes, QString *error) const;

    const CatalogOverrides m_overrides;
    const QString m_locale;
    const IconBounds m_iconBounds;
    QByteArray m_digest;
    QVector<CatalogPackage> m_packages;
    QHash<QString, QByteArray> m_icons;
    QStringList m_notes;
};
