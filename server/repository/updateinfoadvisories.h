#pragma once

#include "records/advisory.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// The advisories of a repository's updateinfo (read with libsolv's updateinfo reader, as dnf
// reads them), and which of them each catalog version fixes. What does not check out is left
// out with a note: an advisory whose id is no plain word, CVE ids that are not CVE ids, those
// past MaxCves; titles are made plain and cut like names.
class UpdateInfoAdvisories
{
public:
    static constexpr int MaxCves = 64; // kept per advisory
    static constexpr int MaxTitleLength = 100;

    // False with *error set when the XML does not parse or names more than maxAdvisories.
    bool read(const QByteArray &xml, int maxAdvisories, QStringList *notes, QString *error);

    const QVector<Advisory> &advisories() const { return m_advisories; }
    // The frame attribute of version-release of package name: the advisories that name this
    // version or an older one (a later build carries the fix too), newest fix first, then the
    // gravest; empty when none.
    QString attributeFor(const QString &name, const QString &versionRelease) const;
    // The gravest severity of the security advisories fixed by going from previous to
    // version ("" when none).
    QString securitySeverity(const QString &name, const QString &previous,
                             const QString &version) const;

private:
    QVector<Advisory> m_advisories;
    // Package name -> (advisory index, version-release it names).
    QHash<QString, QVector<QPair<int, QString>>> m_byPackage;
};
