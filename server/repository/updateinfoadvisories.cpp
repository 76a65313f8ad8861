#include "repository/updateinfoadvisories.h"

#include "records/rpmversionorder.h"
#include "repository/repositorytext.h"
#include "repository/solvrepository.h"
#include "sync/packageadvisories.h"

extern "C" {
#include <solv/dataiterator.h>
#include <solv/knownid.h>
#include <solv/repo_updateinfoxml.h>
}

#include <algorithm>
#include <cstdio>

namespace
{

constexpr auto text = SolvRepository::text;

const QStringList KnownTypes{QStringLiteral("security"), QStringLiteral("bugfix"),
                             QStringLiteral("enhancement"), QStringLiteral("newpackage")};

// "1:2.0-3" as rpm -q prints it: "2.0-3".
QString withoutEpoch(const QString &evr)
{
    const int colon = evr.indexOf(QLatin1Char(':'));
    return colon >= 0 ? evr.mid(colon + 1) : evr;
}

} // namespace

bool UpdateInfoAdvisories::read(const QByteArray &xml, int maxAdvisories, QStringList *notes,
                                QString *error)
{
    SolvRepository read;
    if (!read.read(
            xml, [](Repo *repo, FILE *in) { return repo_add_updateinfoxml(repo, in, 0); },
            QStringLiteral("updateinfo"), error))
        return false;
    Pool *const solv = read.pool();
    Repo *const repo = read.repo();
    if (repo->nsolvables > maxAdvisories) {
        *error = QStringLiteral("updateinfo: %1 advisories, more than %2")
                     .arg(repo->nsolvables)
                     .arg(maxAdvisories);
        return false;
    }
    QVector<Advisory> advisories;
    QHash<QString, QVector<QPair<int, QString>>> byPackage;
    Id p;
    Solvable *s;
    FOR_REPO_SOLVABLES(repo, p, s)
    {
        Advisory advisory;
        // libsolv names each advisory "patch:ID".
        advisory.id = text(pool_id2str(solv, s->name)).section(QLatin1Char(':'), 1);
        if (!PackageAdvisories::isId(advisory.id)) {
            *notes << QStringLiteral("advisory \"%1\" left out: not a usable id")
                          .arg(RepositoryText::plain(advisory.id, MaxTitleLength));
            continue;
        }
        const QString type = text(solvable_lookup_str(s, SOLVABLE_PATCHCATEGORY)).toLower();
        advisory.type = KnownTypes.contains(type) ? type : QString();
        advisory.severity =
            PackageAdvisories::severityOf(text(solvable_lookup_str(s, UPDATE_SEVERITY)));
        advisory.title =
            RepositoryText::plain(text(solvable_lookup_str(s, SOLVABLE_SUMMARY)), MaxTitleLength);
        advisory.issued = qint64(solvable_lookup_num(s, SOLVABLE_BUILDTIME, 0));
        int cvesLeft = 0;
        Dataiterator di;
        dataiterator_init(&di, solv, repo, p, UPDATE_REFERENCE, nullptr, 0);
        while (dataiterator_step(&di)) {
            dataiterator_setpos(&di);
            if (text(pool_lookup_str(solv, SOLVID_POS, UPDATE_REFERENCE_TYPE)) !=
                QLatin1String("cve"))
                continue;
            const QString cve = text(pool_lookup_str(solv, SOLVID_POS, UPDATE_REFERENCE_ID));
            if (!PackageAdvisories::isCve(cve) || advisory.cves.contains(cve))
                continue;
            if (advisory.cves.size() < MaxCves)
                advisory.cves << cve;
            else
                ++cvesLeft;
        }
        dataiterator_free(&di);
        if (cvesLeft)
            *notes << QStringLiteral("advisory %1: %2 CVE references past the first %3 left out")
                          .arg(advisory.id)
                          .arg(cvesLeft)
                          .arg(MaxCves);
        dataiterator_init(&di, solv, repo, p, UPDATE_COLLECTION, nullptr, 0);
        dataiterator_prepend_keyname(&di, UPDATE_COLLECTIONLIST);
        while (dataiterator_step(&di)) {
            dataiterator_setpos(&di);
            const Advisory::Fix fix{
                text(pool_id2str(solv, pool_lookup_id(solv, SOLVID_POS, UPDATE_COLLECTION_NAME))),
                withoutEpoch(text(
                    pool_id2str(solv, pool_lookup_id(solv, SOLVID_POS, UPDATE_COLLECTION_EVR))))};
            // A package of several architectures is named once per architecture.
            if (fix.name.isEmpty() ||
                std::any_of(advisory.fixes.cbegin(), advisory.fixes.cend(), [&](const auto &f) {
                    return f.name == fix.name && f.versionRelease == fix.versionRelease;
                }))
                continue;
            advisory.fixes << fix;
            byPackage[fix.name] << qMakePair(int(advisories.size()), fix.versionRelease);
        }
        dataiterator_free(&di);
        advisories << advisory;
    }
    m_advisories = advisories;
    m_byPackage = byPackage;
    return true;
}

QString UpdateInfoAdvisories::attributeFor(const QString &name, const QString &versionRelease) const
{
    const auto found = m_byPackage.constFind(name);
    if (found == m_byPackage.cend())
        return QString();
    QVector<PackageAdvisories::Advisory> fixed;
    for (const auto &entry : *found) {
        if (RpmVersionOrder::compare(entry.second, versionRelease) > 0)
            continue;
        const Advisory &advisory = m_advisories[entry.first];
        fixed << PackageAdvisories::Advisory{advisory.id, advisory.type, advisory.severity,
                                             entry.second, advisory.cves};
    }
    std::stable_sort(fixed.begin(), fixed.end(), [](const auto &a, const auto &b) {
        const int order = RpmVersionOrder::compare(a.fixedIn, b.fixedIn);
        if (order != 0)
            return order > 0;
        return PackageAdvisories::rank(a.severity) > PackageAdvisories::rank(b.severity);
    });
    return PackageAdvisories::compose(fixed);
}

QString UpdateInfoAdvisories::securitySeverity(const QString &name, const QString &previous,
                                               const QString &version) const
{
    QString gravest;
    for (const auto &entry : m_byPackage.value(name)) {
        const Advisory &advisory = m_advisories[entry.first];
        if (advisory.type != QLatin1String("security") ||
            RpmVersionOrder::compare(entry.second, version) > 0 ||
            (!previous.isEmpty() && RpmVersionOrder::compare(entry.second, previous) <= 0))
            continue;
        if (PackageAdvisories::rank(advisory.severity) > PackageAdvisories::rank(gravest))
            gravest = advisory.severity;
    }
    return gravest;
}
