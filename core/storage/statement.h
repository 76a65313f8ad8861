#pragma once

struct sqlite3;
struct sqlite3_stmt;

// One statement on a connection of its own, as every access to the store's files is made: a
// file locked by a writer is waited for at most eight seconds, at prepare and at step
// together. A database of the store in a layout newer than the store's is not opened. Closed
// with the object.
class Statement
{
public:
    Statement(const char *database, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // False when the file could not be opened or the text not prepared.
    bool isValid() const { return m_stmt != nullptr; }
    int parameterCount() const;
    int columnCount() const;
    // The text must live until the statement is done with.
    void bindText(int index, const char *text);
    // SQLite's result code: SQLITE_ROW, SQLITE_DONE or an error.
    int step();
    // The cell of the current row, and its length in bytes; null reads as "".
    const char *text(int column) const;
    int textBytes(int column) const;

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    int m_attemptsUsed = 0;
    bool m_stepping = false;
};
