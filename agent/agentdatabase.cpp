#include "agentdatabase.h"

bool AgentDatabase::open(const QString &path)
{
    return m_db.open(path) &&
           m_db.exec(QStringLiteral(
               "PRAGMA journal_mode=WAL;"
               "CREATE TABLE IF NOT EXISTS plan(id INTEGER PRIMARY KEY CHECK(id = 1),"
               " sequence INTEGER NOT NULL);"
               "CREATE TABLE IF NOT EXISTS items(key TEXT PRIMARY KEY, state INTEGER NOT NULL,"
               " changed INTEGER NOT NULL);"
               "CREATE TABLE IF NOT EXISTS notices(key TEXT, kind TEXT,"
               " PRIMARY KEY(key, kind));"
               "CREATE TABLE IF NOT EXISTS late(key TEXT PRIMARY KEY, since INTEGER NOT NULL);")) ==
               0;
}

quint64 AgentDatabase::lastSequence()
{
    return m_db.selectColumn(QStringLiteral("SELECT sequence FROM plan WHERE id = 1"), {})
        .value(0)
        .toULongLong();
}

bool AgentDatabase::setLastSequence(quint64 sequence)
{
    return m_db.execBound(QStringLiteral("INSERT OR REPLACE INTO plan(id, sequence) VALUES(1, ?)"),
                          {QString::number(sequence)}) == 0;
}

AgentDatabase::ItemState AgentDatabase::state(const QString &key)
{
    const QStringList found =
        m_db.selectColumn(QStringLiteral("SELECT state FROM items WHERE key = ?"), {key});
    return found.isEmpty() ? ItemState::Pending : ItemState(found.first().toInt());
}

bool AgentDatabase::setState(const QString &key, ItemState state, qint64 now)
{
    return m_db.execBound(
               QStringLiteral("INSERT OR REPLACE INTO items(key, state, changed) VALUES(?, ?, ?)"),
               {key, QString::number(int(state)), QString::number(now)}) == 0;
}

bool AgentDatabase::tellOnce(const QString &key, const QString &noticeKind)
{
    if (!m_db.selectColumn(QStringLiteral("SELECT kind FROM notices WHERE key = ? AND kind = ?"),
                           {key, noticeKind})
             .isEmpty())
        return false;
    m_db.execBound(QStringLiteral("INSERT INTO notices(key, kind) VALUES(?, ?)"),
                   {key, noticeKind});
    return true;
}

qint64 AgentDatabase::lateSince(const QString &key, qint64 now)
{
    m_db.execBound(QStringLiteral("INSERT OR IGNORE INTO late(key, since) VALUES(?, ?)"),
                   {key, QString::number(now)});
    const QStringList since =
        m_db.selectColumn(QStringLiteral("SELECT since FROM late WHERE key = ?"), {key});
    return since.isEmpty() ? now : since.first().toLongLong();
}
