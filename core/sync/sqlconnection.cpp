#include "sync/sqlconnection.h"

#include <sqlite3.h>

SqlConnection::~SqlConnection()
{
    close();
}

bool SqlConnection::open(const QString &path)
{
    close();
    if (sqlite3_open(path.toUtf8().constData(), &m_db) != SQLITE_OK) {
        close();
        return false;
    }
    return true;
}

void SqlConnection::close()
{
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
