#pragma once

#include <QString>

#include <optional>

class SqlConnection;

// The sequence of the last signed frame a store accepted, kept in the catalog database beside
// the rows the frame brought and committed in the same transaction: a frame that fails to be
// stored does not advance it, and no crash can leave the rows of a frame without its sequence
// or the other way round.
namespace AcceptedSequence
{

// The last sequence accepted; none when it cannot be read (the database, or a value that is
// not a number), which refuses every frame rather than starting again from 0. A database
// from before the sequence lived there is given its table, holding the value of
// legacyFile (the file it lived in, removed once the value is in the database) or 0.
std::optional<quint64> load(const QString &database, const QString &legacyFile);

// Within db's open transaction: sequence becomes the last accepted, now. SQLite's result code.
int record(SqlConnection &db, quint64 sequence);
// The catalog was found current now (a heartbeat naming nothing newer): the freshness moves,
// the sequence does not.
int recordFresh(SqlConnection &db);

// When the last sequence was recorded (Unix seconds); 0 when never or unreadable.
qint64 acceptedAt(const QString &database);

} // namespace AcceptedSequence
