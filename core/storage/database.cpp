#include "storage/database.h"

#include "storage/statement.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

void bindTexts(Statement &statement, va_list args)
{
    // The real placeholder count, not the "?" bytes: a "?" inside a literal is no parameter.
    const int count = statement.parameterCount();
    for (int i = 1; i <= count; ++i)
        statement.bindText(i, va_arg(args, const char *));
}

} // namespace

int exec_sql(const char *database, const char *sql, ...)
{
    Statement statement(database, sql);
    if (!statement.isValid()) {
        std::printf("open faliure");
        std::fflush(stdout);
        return 1;
    }
    va_list args;
    va_start(args, sql);
    bindTexts(statement, args);
    va_end(args);
    return statement.step() == SQLITE_DONE ? 0 : 1;
}

char **exec_select(const char *database, int *rows, int *columns, const char *sql, ...)
{
    Statement statement(database, sql);
    if (!statement.isValid())
        return nullptr;
    *rows = 0;
    *columns = statement.columnCount();

    va_list args;
    va_start(args, sql);
    bindTexts(statement, args);
    va_end(args);

    std::vector<char *> cells;
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
        for (int k = 0; k < *columns; ++k)
            cells.push_back(strdup(statement.text(k)));
        ++*rows;
    }

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
