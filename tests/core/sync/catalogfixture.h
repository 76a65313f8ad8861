#pragma once

#include "sync/catalogpackage.h"
#include "tests/support/freeport.h"
#include "tests/support/storerows.h"
#include "tests/support/testfiles.h"
#include "tests/support/testpackage.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

// Reading and preparing the databases of the current sandbox, straight through SQLite, and
// the small files the synchronisation tests serve and inspect.
namespace CatalogFixture
{

using Row = StoreRows::Row;

// An installed package: an empty RPM database sends the receiver into its endless repair.
inline const TestPackage Hello10{QStringLiteral("cv-hello"), QStringLiteral("1.0"),
                                 QStringLiteral("1")};

QVector<Row> query(const QString &database, const QString &sql);
bool exec(const QString &database, const QString &sql);

QStringList names();                      // s_name of every catalog row, sorted
Row row(const QString &name);             // the catalog row of that name; empty when absent
QStringList installed();                  // software rows as "name version release", sorted
inline bool insertRow(const Row &columns) // one catalog row as the store would hold it
{
    return StoreRows::addCatalogRow(columns);
}

CatalogPackage package(const QString &name, const QString &rpm, const QString &icon = QString(),
                       const QString &time = QString());
// A frame built by hand, for any architecture and element name.
QString frame(const QString &action, const QString &architecture,
              const QVector<CatalogPackage> &packages,
              const QString &element = QStringLiteral("soft"));

using ::writeFile;
// A catalog file as the catalog server reads it (--catalog, push), holding packages.
bool writeCatalog(const QString &path, const QVector<CatalogPackage> &packages);
using ::readFile;
using ::readLines;

// A folder of replacement tools next to these tests.
QString toolFolder(const QString &name);

} // namespace CatalogFixture
