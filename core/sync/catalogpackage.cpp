#include "sync/catalogpackage.h"

const char *const CatalogPackage::IconDigestAttribute = "iconsha256";

const QVector<CatalogPackage::Column> &CatalogPackage::columns()
{
    static const QVector<Column> table = {
        {"name", "s_name", &CatalogPackage::name},
        {"icon", "s_icon", &CatalogPackage::icon},
        {"exec", "s_exec", &CatalogPackage::exec},
        {"rpm", "s_rpm", &CatalogPackage::rpm},
        {"version", "s_version", &CatalogPackage::version},
        {"size", "s_size", &CatalogPackage::size},
        {"desc", "s_description", &CatalogPackage::desc},
        {"rpmdeps", "s_rpmdeps", &CatalogPackage::rpmdeps},
        {"star", "s_star", &CatalogPackage::star},
        {"class", "type", &CatalogPackage::klass},
        {"time", "time", &CatalogPackage::time},
    };
    return table;
}
