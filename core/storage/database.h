#pragma once

// The only way the store reaches its two SQLite files: each call opens the file, runs one
// statement and closes it again. Parameters are const char* texts bound to the statement's
// "?" placeholders in order.
extern "C" {

// 0 when the statement ran to completion, 1 otherwise.
int exec_sql(const char *database, const char *sql, ...);

// Cells row by row (row r, column k at r * columns + k), each a heap copy (NULL reads as ""),
// then a null pointer. Null when no row matched, on zero columns, and on every failure.
// *rows and *columns are written once the statement has been prepared.
char **exec_select(const char *database, int *rows, int *columns, const char *sql, ...);

// Frees a result of exec_select; null is ignored.
void free_result(char **result);
}
