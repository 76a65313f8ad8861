#include "primarypackages.h"

#include <QMap>

extern "C" {
#include <solv/evr.h>
#include <solv/knownid.h>
#include <solv/pool.h>
#include <solv/repo.h>
#include <solv/repo_rpmmd.h>
}

#include <cstdio>
#include <memory>

namespace
{

struct PoolDeleter {
    void operator()(Pool *pool) const { pool_free(pool); }
};

QString text(const char *value)
{
    return QString::fromUtf8(value ? value : "");
}

} // namespace

bool PrimaryPackages::newest(const QByteArray &primaryXml, QVector<RepositoryPackage> *packages,
                             QString *error)
{
    std::unique_ptr<Pool, PoolDeleter> pool(pool_create());
    Repo *repo = repo_create(pool.get(), "primary");
    QByteArray data = primaryXml;
    FILE *in = fmemopen(data.data(), size_t(data.size()), "r");
    const int failed = in ? repo_add_rpmmd(repo, in, nullptr, 0) : -1;
    if (in)
        std::fclose(in);
    if (failed) {
        *error = QStringLiteral("primary metadata: ") + text(pool_errstr(pool.get()));
        return false;
    }

    const Id x86 = pool_str2id(pool.get(), "x86_64", 1);
    QMap<QString, Solvable *> chosen;
    Id p;
    Solvable *s;
    FOR_REPO_SOLVABLES(repo, p, s)
    {
        if (s->arch != x86 && s->arch != ARCH_NOARCH)
            continue;
        const QString name = text(pool_id2str(pool.get(), s->name));
        Solvable *&best = chosen[name];
        if (!best) {
            best = s;
            continue;
        }
        const int order = pool_evrcmp(pool.get(), s->evr, best->evr, EVRCMP_COMPARE);
        if (order > 0 || (order == 0 && s->arch == x86))
            best = s;
    }

    packages->clear();
    packages->reserve(chosen.size());
    for (Solvable *solvable : chosen) {
        RepositoryPackage package;
        package.name = text(pool_id2str(pool.get(), solvable->name));
        package.arch = text(pool_id2str(pool.get(), solvable->arch));
        const QString evr = text(pool_id2str(pool.get(), solvable->evr));
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
