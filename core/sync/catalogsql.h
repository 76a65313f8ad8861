#pragma once

#include "records/rpminfo.h"
#include "sync/catalogpackage.h"

#include <QString>
#include <QStringList>

// The statements of the catalog load as the log shows them: every value stands in a
// single-quoted literal with its quotes doubled, so no value can end its literal or add a
// statement. What runs has the values bound.
namespace CatalogSql
{

// One statement of a frame twice: as the log shows it, values in literals, and as it runs,
// values bound to its "?" in order.
struct Bound {
    QString shown;
    QString sql;
    QStringList values;
};

Bound insertPackageBound(const CatalogPackage &package);
Bound updatePackageBound(const CatalogPackage &package); // keyed on s_name
Bound deletePackageBound(const QString &name);

QString updateSign(int sign, const QString &rpm);

// terminated: the statement ends with ";" (the catalog load) or not (the synchronous reload).
QString insertInstalled(const RpmInfo &info, bool terminated = true);

} // namespace CatalogSql
