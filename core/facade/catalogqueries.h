#pragma once

#include "records/rpmdata.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// Which rows a list query keeps.
enum class QueryMode {
    Everything, // every row
    Upgradable, // rows marked upgradable
    Installed,  // rows marked upgradable or installed, with the installed version
};

// The catalog queries behind the facade. Stateless: every call opens what it reads and
// hands back all it found; values reach SQLite only as bound parameters.
class CatalogQueries
{
public:
    // The facade's integer modes 0, 1, 2; any other keeps no row.
    static std::optional<QueryMode> modeOf(int legacyMode);

    // The rows of a category and keyword (an unknown category searches every category).
    static QVector<RpmData> search(QueryMode mode, const QString &category, const QString &keyword);
    // The rows a select of the catalog columns returns (parameters bound in order).
    static QVector<RpmData> select(QueryMode mode, const QString &sql,
                                   const QStringList &parameters = QStringList());
    // The last row of a display name; an empty record when there is none.
    static RpmData byName(QueryMode mode, const QString &name);
    // byName for each of the names, read in one query; unknown names are missing.
    static QHash<QString, RpmData> byNames(QueryMode mode, const QSet<QString> &names);
    // The rows of a category code, with the state 0 or -1 (installed).
    static QVector<RpmData> byType(QueryMode mode, const QString &type);

    // "version-release" of the installed package of this short name (its first row); none
    // when the local table lacks it. Writes the debug line of a found version.
    static std::optional<QString> installedVersion(const QString &name);
    // As installedVersion, but of the name's last row and without a debug line.
    static QString lastInstalledVersion(const QString &name);
};
