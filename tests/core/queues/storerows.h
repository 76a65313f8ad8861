#pragma once

#include <QString>
#include <QStringList>

// Rows of the sandbox's two databases as the workers read and leave them.
namespace StoreRows
{

void addCatalogRow(const QString &rpm, const QString &icon, const QString &sign,
                   const QString &deps = QString());
QString sign(const QString &rpm);

void addInstalledRow(const QString &name, const QString &version, const QString &release);
// "name version release" per row of the installed-package table, in insertion order.
QStringList installedRows();

} // namespace StoreRows
