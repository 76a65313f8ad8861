#pragma once

#include "facade/catalogqueries.h"
#include "records/rpmdata.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

// The catalog as the window's pages read it. The facade answers from the catalog database;
// a page needs nothing else of the facade to fill its table.
class CatalogReader
{
public:
    virtual ~CatalogReader() = default;

    // The rows of a mode, a category name (none: every category) and a search text.
    virtual QVector<RpmData> list(QueryMode mode, const QString &category,
                                  const QString &keyword) = 0;
    // The record of a display name as a row shows it; an empty record when there is none.
    virtual RpmData record(const QString &name) = 0;
    // record for each of the names at once; unknown names are missing.
    virtual QHash<QString, RpmData> records(const QSet<QString> &names) = 0;

protected:
    CatalogReader() = default;
    CatalogReader(const CatalogReader &) = default;
    CatalogReader &operator=(const CatalogReader &) = default;
};
