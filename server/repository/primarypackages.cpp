#include "repository/primarypackages.h"

#include "repository/solvrepository.h"

extern "C" {
#include <solv/evr.h>
#include <solv/knownid.h>
#include <solv/repo_rpmmd.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{

constexpr auto text = SolvRepository::text;

} // namespace

bool PrimaryPackages::all(const QByteArray &primaryXml, QVector<RepositoryPackage> *packages,
                          QString *error)
{
    SolvRepository read;
    if (!read.read(
            primaryXml, [](Repo *repo, FILE *in) { return repo_add_rpmmd(repo, in, nullptr, 0); },
            QStringLiteral("primary metadata"), error))
        return false;
    Repo *const repo = read.repo();
    const Id x86 = pool_str2id(read.pool(), "x86_64", 1);
    QVector<Solvable *> solvables;
    Id p;
    Solvable *s;
    FOR_REPO_SOLVABLES(repo, p, s)
    {
        if (s->arch == x86 || s->arch == ARCH_NOARCH)
            solvables << s;
    }
    // By name, newest first, x86_64 before noarch of one version: the first of a version wins.
    Pool *const solv = read.pool();
    std::sort(solvables.begin(), solvables.end(), [solv, x86](Solvable *a, Solvable *b) {
        const int names = std::strcmp(pool_id2str(solv, a->name), pool_id2str(solv, b->name));
        if (names != 0)
            return names < 0;
        const int order = pool_evrcmp(solv, a->evr, b->evr, EVRCMP_COMPARE);
        if (order != 0)
            return order > 0;
        return a->arch == x86 && b->arch != x86;
    });

    packages->clear();
    packages->reserve(solvables.size());
    const Solvable *previous = nullptr;
    for (Solvable *solvable : solvables) {
        if (previous && previous->name == solvable->name &&
            pool_evrcmp(solv, previous->evr, solvable->evr, EVRCMP_COMPARE) == 0)
            continue;
        previous = solvable;
        RepositoryPackage package;
        package.name = text(pool_id2str(solv, solvable->name));
        package.arch = text(pool_id2str(solv, solvable->arch));
        const QString evr = text(pool_id2str(solv, solvable->evr));
        // The epoch is not part of name-version-release as rpm -q prints it.
        const int colon = evr.indexOf(QLatin1Char(':'));
        const QString versionRelease = colon >= 0 ? evr.mid(colon + 1) : evr;
        const int dash = versionRelease.lastIndexOf(QLatin1Char('-'));
        package.version = versionRelease.left(dash);
        package.release = dash >= 0 ? versionRelease.mid(dash + 1) : QString();
        package.summary = text(solvable_lookup_str(solvable, SOLVABLE_SUMMARY));
        package.description = text(solvable_lookup_str(solvable, SOLVABLE_DESCRIPTION));
        package.installSize = qint64(solvable_lookup_num(solvable, SOLVABLE_INSTALLSIZE, 0));
        packages->append(package);
    }
    return true;
}

QVector<RepositoryPackage> PrimaryPackages::newestOf(const QVector<RepositoryPackage> &packages)
{
    QVector<RepositoryPackage> newest;
    for (const RepositoryPackage &package : packages)
        if (newest.isEmpty() || newest.constLast().name != package.name)
            newest << package;
    return newest;
}

bool PrimaryPackages::newest(const QByteArray &primaryXml, QVector<RepositoryPackage> *packages,
                             QString *error)
{
    QVector<RepositoryPackage> every;
    if (!all(primaryXml, &every, error))
        return false;
    *packages = newestOf(every);
    return true;
}
