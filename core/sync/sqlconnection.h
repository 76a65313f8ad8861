#pragma once

#include <QString>

struct sqlite3;

// One connection of the catalog load, for statements that must share a transaction.
// Closing it (or destroying it) with a transaction open discards that transaction.
class SqlConnection
{
public:
    SqlConnection() = default;
    ~SqlConnection();
    SqlConnection(const SqlConnection &) = delete;
    SqlConnection &operator=(const SqlConnection &) = delete;

    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // SQLite's result code of the whole text; SQLITE_OK (0) on success.
    int exec(const QString &sql);
    QString errorMessage() const;

private:
    sqlite3 *m_db = nullptr;
};
