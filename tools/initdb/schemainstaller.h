#pragma once

#include <QString>

// Creates the store's database files, with their tables, from the schema shipped with the
// sources. Used by installation, the demo and the tests; the store itself never creates tables.
class SchemaInstaller
{
public:
    // Creates every database of the schema in directory (which must exist), numbered with its
    // layout. A file of an earlier layout is migrated, its rows kept. False with *error set when
    // a file cannot be created or migrated, or is of a later layout.
    static bool createDatabases(const QString &directory, QString *error = nullptr);

    // The statements of one database file of the schema ("software.db", ...); empty if unknown.
    static QString statementsFor(const QString &fileName);
};
