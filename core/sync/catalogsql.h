#pragma once

#include "records/rpminfo.h"
#include "sync/catalogpackage.h"

#include <QString>

// The statements of the catalog load. Every value stands in a single-quoted literal with its
// quotes doubled, so no value can end its literal or add a statement.
namespace CatalogSql
{

QString insertPackage(const CatalogPackage &package);
QString updatePackage(const CatalogPackage &package); // keyed on s_name
QString deletePackage(const QString &name);
QString updateSign(int sign, const QString &rpm);

// terminated: the statement ends with ";" (the catalog load) or not (the synchronous reload).
QString insertInstalled(const RpmInfo &info, bool terminated = true);

} // namespace CatalogSql
