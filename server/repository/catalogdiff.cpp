#include "repository/catalogdiff.h"

#include <QHash>

namespace
{

bool same(const CatalogPackage &a, const CatalogPackage &b)
{
    for (const CatalogPackage::Column &column : CatalogPackage::columns())
        if (a.*column.field != b.*column.field)
            return false;
    // A version found to fix an advisory later is pushed again with it.
    return a.advisories == b.advisories;
}

bool same(const QVector<CatalogPackage> &a, const QVector<CatalogPackage> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i]))
            return false;
    return true;
}

} // namespace

bool CatalogDiff::operator==(const CatalogDiff &other) const
{
    return same(added, other.added) && same(updated, other.updated) && same(deleted, other.deleted);
}

CatalogDiff CatalogDiff::between(const QVector<CatalogPackage> &before,
                                 const QVector<CatalogPackage> &after)
{
    QHash<QString, const CatalogPackage *> old;
    for (const CatalogPackage &package : before)
        old.insert(package.name, &package);
    CatalogDiff diff;
    for (const CatalogPackage &package : after) {
        const CatalogPackage *was = old.take(package.name);
        if (!was)
            diff.added << package;
        else if (!same(*was, package))
            diff.updated << package;
    }
    // In the order the old catalog had them.
    for (const CatalogPackage &package : before)
        if (old.contains(package.name))
            diff.deleted << package;
    return diff;
}
