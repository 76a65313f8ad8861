#include "storage/schemaversion.h"

#include <sqlite3.h>

namespace
{

bool busy(sqlite3 *db)
{
    const int code = sqlite3_errcode(db) & 0xff;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

// The first column of the first row, -1 when there is none.
int integer(sqlite3 *db, const char *sql, const char *parameter = nullptr)
{
    sqlite3_stmt *statement = nullptr;
    int value = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
        if (parameter)
            sqlite3_bind_text(statement, 1, parameter, -1, SQLITE_STATIC);
        if (sqlite3_step(statement) == SQLITE_ROW)
            value = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
    return value;
}

} // namespace

SchemaVersion::SchemaVersion(Recognise recognise, QVector<Step> steps)
    : m_recognise(std::move(recognise)), m_steps(std::move(steps))
{
}

int SchemaVersion::version(sqlite3 *db)
{
    return integer(db, "PRAGMA user_version");
}

bool SchemaVersion::exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool SchemaVersion::hasTable(sqlite3 *db, const char *name)
{
    return integer(db, "select count(*) from sqlite_master where type='table' and name=?", name) >
           0;
}

SchemaVersion::Outcome SchemaVersion::bringUp(sqlite3 *db, const Step &create, QString *error) const
{
    QString ignored;
    QString &why = error ? *error : ignored;
    // Read without a lock of our own first: a file in its current layout costs one read.
    const int found = version(db);
    if (found < 0) {
        why = QString::fromUtf8(sqlite3_errmsg(db));
        return busy(db) ? Outcome::Busy : Outcome::Failed;
    }
    if (found == current())
        return Outcome::Current;
    if (found > current()) {
        why = QStringLiteral("layout %1 is newer than this program's %2").arg(found).arg(current());
        return Outcome::Newer;
    }
    if (!exec(db, "BEGIN IMMEDIATE")) {
        why = QString::fromUtf8(sqlite3_errmsg(db));
        return busy(db) ? Outcome::Busy : Outcome::Failed;
    }
    Outcome outcome = migrate(db, create, &why);
    if (outcome == Outcome::Upgraded && !exec(db, "COMMIT")) {
        why = QString::fromUtf8(sqlite3_errmsg(db));
        outcome = busy(db) ? Outcome::Busy : Outcome::Failed;
    }
    if (!sqlite3_get_autocommit(db))
        exec(db, "ROLLBACK");
    return outcome;
}

SchemaVersion::Outcome SchemaVersion::migrate(sqlite3 *db, const Step &create, QString *error) const
{
    // Read again under the write lock: another process may have migrated it meanwhile.
    int from = version(db);
    if (from == current())
        return Outcome::Current;
    if (from > current()) {
        *error =
            QStringLiteral("layout %1 is newer than this program's %2").arg(from).arg(current());
        return Outcome::Newer;
    }
    if (from <= 0) {
        if (integer(db, "select count(*) from sqlite_master") == 0) {
            if (!create)
                return Outcome::Unknown;
            if (!create(db, error)) {
                if (error->isEmpty())
                    *error = QString::fromUtf8(sqlite3_errmsg(db));
                return Outcome::Failed;
            }
            from = current();
        } else {
            from = m_recognise(db);
        }
    }
    if (from <= 0) {
        *error = QStringLiteral("none of the known layouts");
        return Outcome::Unknown;
    }
    for (int layout = from; layout < current(); ++layout) {
        QString why;
        if (!m_steps.at(layout - 1)(db, &why)) {
            *error = QStringLiteral("from layout %1: %2")
                         .arg(layout)
                         .arg(why.isEmpty() ? QString::fromUtf8(sqlite3_errmsg(db)) : why);
            return Outcome::Failed;
        }
    }
    const QByteArray stamp = "PRAGMA user_version=" + QByteArray::number(current());
    if (!exec(db, stamp.constData())) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return Outcome::Failed;
    }
    return Outcome::Upgraded;
}
