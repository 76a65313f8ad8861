#include "storage/database.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace
{

// A writer holding the file is waited for at most this many seconds per call, whether it
// stops us at prepare or at step.
constexpr int LockAttempts = 8;

sqlite3 *openDatabase(const char *path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(path, &db) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

// Prepares with one-second retries while the file is locked. Returns the number of attempts
// used through *used so that stepping can wait only for what is left of the budget.
sqlite3_stmt *prepareWithRetry(sqlite3 *db, const char *sql, int *used)
{
    for (int attempt = 1; attempt <= LockAttempts; ++attempt) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
            *used = attempt;
            return stmt;
        }
        sqlite3_finalize(stmt);
        if (std::strcmp(sqlite3_errmsg(db), "database is locked") != 0)
            return nullptr;
        if (attempt < LockAttempts)
            sleep(1);
    }
    return nullptr;
}

void bindTexts(sqlite3_stmt *stmt, va_list args)
{
    // The real placeholder count, not the "?" bytes: a "?" inside a literal is no parameter.
    const int count = sqlite3_bind_parameter_count(stmt);
    for (int i = 1; i <= count; ++i)
        sqlite3_bind_text(stmt, i, va_arg(args, const char *), -1, SQLITE_STATIC);
}

void allowStepWaits(sqlite3 *db, int attemptsUsed)
{
    sqlite3_busy_timeout(db, (LockAttempts - attemptsUsed) * 1000);
}

} // namespace

int exec_sql(const char *database, const char *sql, ...)
{
    sqlite3 *db = openDatabase(database);
    if (!db) {
        std::printf("open faliure");
        std::fflush(stdout);
        return 1;
    }
    int used = 0;
    sqlite3_stmt *stmt = prepareWithRetry(db, sql, &used);
    if (!stmt) {
        sqlite3_close(db);
        return 1;
    }
    va_list args;
    va_start(args, sql);
    bindTexts(stmt, args);
    va_end(args);

    allowStepWaits(db, used);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rc == SQLITE_DONE ? 0 : 1;
}

char **exec_select(const char *database, int *rows, int *columns, const char *sql, ...)
{
    sqlite3 *db = openDatabase(database);
    if (!db)
        return nullptr;
    int used = 0;
    sqlite3_stmt *stmt = prepareWithRetry(db, sql, &used);
    if (!stmt) {
        sqlite3_close(db);
        return nullptr;
    }
    *rows = 0;
    *columns = sqlite3_column_count(stmt);

    va_list args;
    va_start(args, sql);
    bindTexts(stmt, args);
    va_end(args);

    allowStepWaits(db, used);
    std::vector<char *> cells;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (int k = 0; k < *columns; ++k) {
            const unsigned char *text = sqlite3_column_text(stmt, k);
            cells.push_back(strdup(text ? reinterpret_cast<const char *>(text) : ""));
        }
        ++*rows;
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);

    if (rc != SQLITE_DONE || *rows == 0 || *columns == 0) {
        for (char *cell : cells)
            std::free(cell);
        *rows = 0;
        return nullptr;
    }
    char **result = static_cast<char **>(std::malloc((cells.size() + 1) * sizeof(char *)));
    std::memcpy(result, cells.data(), cells.size() * sizeof(char *));
    result[cells.size()] = nullptr;
    return result;
}

void free_result(char **result)
{
    if (!result)
        return;
    for (char **cell = result; *cell; ++cell)
        std::free(*cell);
    std::free(result);
}
