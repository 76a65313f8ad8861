#include "storage/statement.h"

#include "storage/storeschema.h"

#include <sqlite3.h>

#include <cstring>
#include <unistd.h>

namespace
{

// A writer holding the file is waited for at most this many seconds per statement, whether
// it stops us at prepare or at step.
constexpr int LockAttempts = 8;

} // namespace

Statement::Statement(const char *database, const char *sql)
{
    if (!StoreSchema::admits(database))
        return;
    if (sqlite3_open(database, &m_db) != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    // Prepared with one-second retries while the file is locked; stepping waits only for
    // what is left of the budget.
    for (int attempt = 1; attempt <= LockAttempts; ++attempt) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
            m_stmt = stmt;
            m_attemptsUsed = attempt;
            return;
        }
        sqlite3_finalize(stmt);
        if (std::strcmp(sqlite3_errmsg(m_db), "database is locked") != 0)
            break;
        if (attempt < LockAttempts)
            sleep(1);
    }
    sqlite3_close(m_db);
    m_db = nullptr;
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
    sqlite3_close(m_db);
}

int Statement::parameterCount() const
{
    return sqlite3_bind_parameter_count(m_stmt);
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

void Statement::bindText(int index, const char *text)
{
    sqlite3_bind_text(m_stmt, index, text, -1, SQLITE_STATIC);
}

int Statement::step()
{
    if (!m_stepping) {
        m_stepping = true;
        sqlite3_busy_timeout(m_db, (LockAttempts - m_attemptsUsed) * 1000);
    }
    return sqlite3_step(m_stmt);
}

const char *Statement::text(int column) const
{
    const unsigned char *text = sqlite3_column_text(m_stmt, column);
    return text ? reinterpret_cast<const char *>(text) : "";
}

int Statement::textBytes(int column) const
{
    return sqlite3_column_bytes(m_stmt, column);
}
