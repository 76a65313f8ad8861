#include "storage/sqlconnection.h"

#include "storage/storeschema.h"

#include <sqlite3.h>

SqlConnection::~SqlConnection()
{
    close();
}

bool SqlConnection::open(const QString &path)
{
    close();
    if (!StoreSchema::admits(path.toUtf8().constData()))
        return false;
    if (sqlite3_open(path.toUtf8().constData(), &m_db) != SQLITE_OK) {
        close();
        return false;
    }
    return true;
}

void SqlConnection::close()
{
    for (sqlite3_stmt *statement : qAsConst(m_statements))
        sqlite3_finalize(statement);
    m_statements.clear();
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

int SqlConnection::exec(const QString &sql)
{
    if (!m_db)
        return SQLITE_MISUSE;
    return sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
}

QString SqlConnection::errorMessage() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString();
}

sqlite3_stmt *SqlConnection::bound(const QString &sql, const QStringList &values)
{
    if (!m_db)
        return nullptr;
    sqlite3_stmt *statement = m_statements.value(sql);
    if (!statement) {
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(statement);
            return nullptr;
        }
        m_statements.insert(sql, statement);
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    for (int i = 0; i < values.size(); ++i) {
        const QByteArray text = values.at(i).toUtf8();
        sqlite3_bind_text(statement, i + 1, text.constData(), text.size(), SQLITE_TRANSIENT);
    }
    return statement;
}

int SqlConnection::execBound(const QString &sql, const QStringList &values)
{
    sqlite3_stmt *statement = bound(sql, values);
    if (!statement)
        return m_db ? sqlite3_errcode(m_db) : SQLITE_MISUSE;
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

QStringList SqlConnection::selectColumn(const QString &sql, const QStringList &values)
{
    QStringList cells;
    sqlite3_stmt *statement = bound(sql, values);
    if (!statement)
        return cells;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
        cells << QString::fromUtf8(text ? text : "");
    }
    // Ending the read here lets another connection commit.
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE)
        cells.clear();
    return cells;
}
