#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

struct sqlite3;
struct sqlite3_stmt;

// One connection held for statements that must share a transaction (the catalog load).
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
    // One statement, prepared once per connection, with values bound to its "?" in order
    // (the values never become SQL text). SQLITE_OK (0) when it ran to completion.
    int execBound(const QString &sql, const QStringList &values);
    // The first column of every row such a statement returns; empty on any failure.
    QStringList selectColumn(const QString &sql, const QStringList &values);
    QString errorMessage() const;

private:
    // Prepared and bound, or null. The statement is reset, so it holds no lock.
    sqlite3_stmt *bound(const QString &sql, const QStringList &values);

    sqlite3 *m_db = nullptr;
    QHash<QString, sqlite3_stmt *> m_statements;
};
