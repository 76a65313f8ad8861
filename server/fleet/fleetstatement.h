#pragma once

#include <QString>

#include <sqlite3.h>

// A prepared statement of the fleet database, finalized with its scope; values are bound,
// never spliced into the text.
class FleetStatement
{
public:
    FleetStatement(sqlite3 *db, const char *sql) : m_db(db)
    {
        sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    }
    ~FleetStatement() { sqlite3_finalize(m_stmt); }
    FleetStatement(const FleetStatement &) = delete;
    FleetStatement &operator=(const FleetStatement &) = delete;

    bool isValid() const { return m_stmt != nullptr; }
    FleetStatement &text(int index, const QString &value)
    {
        const QByteArray bytes = value.toUtf8();
        sqlite3_bind_text(m_stmt, index, bytes.constData(), bytes.size(), SQLITE_TRANSIENT);
        return *this;
    }
    FleetStatement &integer(int index, qint64 value)
    {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    // Runs it once; the number of rows changed, -1 on failure.
    int run()
    {
        const int rc = sqlite3_step(m_stmt);
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        return rc == SQLITE_DONE || rc == SQLITE_ROW ? sqlite3_changes(m_db) : -1;
    }
    // The next row; false at the end (the statement is then reset for another run).
    bool next()
    {
        if (m_stmt && sqlite3_step(m_stmt) == SQLITE_ROW)
            return true;
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        return false;
    }
    QString textAt(int column) const
    {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(text ? text : "");
    }
    qint64 integerAt(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3 *const m_db;
    sqlite3_stmt *m_stmt = nullptr;
};
