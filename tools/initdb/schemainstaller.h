#pragma once

#include <QString>

// Creates the store's database files, with their tables, from the schema shipped with the
// sources. Used by installation, the demo and the tests; the store itself never creates tables.
class SchemaInstaller
{
public:
    // Creates every database of the schema in directory (which must exist). Existing
    // tables are kept. False with *error set when a file cannot be created.
    static bool createDatabases(const QString &directory, QString *error = nullptr);

    // The statements of one database file of the schema ("software.db", ...); empty if unknown.
    static QString statementsFor(const QString &fileName);
};
