#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Rows of the sandbox's two databases as the store reads and leaves them.
namespace StoreRows
{

// Column name to value; a null value is stored as NULL.
using Row = QMap<QString, QString>;

// One catalog row (softwares) of the given columns.
bool addCatalogRow(const Row &columns);
// A catalog row named after its icon, as the workers look it up.
bool addCatalogRow(const QString &rpm, const QString &icon, const QString &sign,
                   const QString &deps = QString());
QString sign(const QString &rpm);

bool addInstalledRow(const QString &name, const QString &version, const QString &release);
// "name version release" per row of the installed-package table, in insertion order.
QStringList installedRows();

} // namespace StoreRows
