#include "sync/acceptedsequence.h"

#include "storage/sqlconnection.h"
#include "storage/storeschema.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

namespace
{

const QString CreateTable = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS frame_sequence (id INTEGER PRIMARY KEY CHECK (id = 1), "
    "last TEXT NOT NULL, at TEXT NOT NULL DEFAULT '0');");

// Digits only, within 64 bits.
std::optional<quint64> number(const QByteArray &digits)
{
    if (digits.isEmpty() || digits.size() > 20)
        return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9')
            return std::nullopt;
    bool ok = false;
    const quint64 value = digits.toULongLong(&ok);
    return ok ? std::optional<quint64>(value) : std::nullopt;
}

} // namespace

namespace AcceptedSequence
{

std::optional<quint64> load(const QString &database, const QString &legacyFile)
{
    SqlConnection db;
    if (!db.open(database) || db.exec(QStringLiteral("PRAGMA busy_timeout=1000")) != SQLITE_OK)
        return std::nullopt;
    const QStringList stored =
        db.selectColumn(QStringLiteral("select last from frame_sequence where id=1;"), {});
    if (!stored.isEmpty())
        return number(stored.first().toLatin1());
    const QStringList tables = db.selectColumn(
        QStringLiteral("select count(*) from sqlite_master where name='frame_sequence';"), {});
    if (tables.isEmpty())
        return std::nullopt;
    const std::optional<quint64> migrated = StoreSchema::legacySequence(legacyFile);
    if (!migrated)
        return std::nullopt;
    if (db.exec(QStringLiteral("begin immediate;")) != SQLITE_OK)
        return std::nullopt;
    if (db.exec(CreateTable) != SQLITE_OK ||
        db.execBound(QStringLiteral("insert into frame_sequence (id, last) values (1, ?);"),
                     {QString::number(*migrated)}) != SQLITE_OK ||
        db.exec(QStringLiteral("commit;")) != SQLITE_OK)
        return std::nullopt;
    // The database holds it now; a file left behind would only mislead.
    QFile::remove(legacyFile);
    return migrated;
}

int record(SqlConnection &db, quint64 sequence)
{
    return db.execBound(
        QStringLiteral("update frame_sequence set last=?, at=? where id=1;"),
        {QString::number(sequence), QString::number(QDateTime::currentSecsSinceEpoch())});
}

int recordFresh(SqlConnection &db)
{
    return db.execBound(QStringLiteral("update frame_sequence set at=? where id=1;"),
                        {QString::number(QDateTime::currentSecsSinceEpoch())});
}

qint64 acceptedAt(const QString &database)
{
    SqlConnection db;
    if (!db.open(database))
        return 0;
    const QStringList at =
        db.selectColumn(QStringLiteral("select at from frame_sequence where id=1;"), {});
    return at.isEmpty() ? 0 : at.first().toLongLong();
}

} // namespace AcceptedSequence
