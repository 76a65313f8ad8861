#include "catalogdiff.h"

#include <QHash>

namespace
{

bool same(const CatalogPackage &a, const CatalogPackage &b)
{
    for (const CatalogPackage::Column &column : CatalogPackage::columns())
        if (a.*column.field != b.*column.field)
            return false;
    return true;
}

} // namespace

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
