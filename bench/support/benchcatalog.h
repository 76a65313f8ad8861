#pragma once

#include "tests/support/testpackage.h"

#include "benchpackages.h"
#include "tests/support/catalogentry.h"

#include <QString>
#include <QVector>

// The large catalog the window benchmarks browse: 10,000 packages in thirteen categories, a
// third of them installed, a tenth of those with a newer release in the catalog.
namespace BenchCatalog
{

constexpr int Packages = 10000;

QString shortName(int i);
QString version(int i);
bool installed(int i);
CatalogEntry entry(int i);
// The installed third, for Sandbox::installEmpty.
QVector<TestPackage> installedPackages();

// Writes every package into the catalog database in one transaction.
bool fill();
// One picture per package, so that every row decodes and scales a real icon.
bool writeIcons();

} // namespace BenchCatalog
