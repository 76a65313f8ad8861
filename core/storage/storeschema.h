#pragma once

#include "storage/schemaversion.h"

#include <QString>

#include <optional>

// The layouts of the store's two database files, the catalog and the local database. The
// store checks each file once per process, when it first opens it, so that a file installed by
// an earlier release is brought up to date before anything reads it and one written by a later
// release is not touched.
namespace StoreSchema
{

// The layouts of the database of that file name ("server_software.db", "software.db"); null
// for any other file.
const SchemaVersion *of(const QString &fileName);

// Brings the database at path to the current layout of its file name. With create, a missing
// or empty file is made in the current layout; without it, such a file is left as it is.
SchemaVersion::Outcome upgrade(const QString &path, QString *error = nullptr,
                               const SchemaVersion::Step &create = SchemaVersion::Step());

// Whether the store may open path: false for the catalog or local database in a layout newer
// than the store's (said once on standard error). The first open of each database in a process
// brings it up to date; any other file is always admitted.
bool admits(const char *path);

// The value of the file the frame sequence lived in before it moved into the catalog database:
// 0 without the file, none when it holds anything but the digits of a number.
std::optional<quint64> legacySequence(const QString &path);

} // namespace StoreSchema
