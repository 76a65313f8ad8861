#include "databaselock.h"

#include <sqlite3.h>

#include <chrono>

DatabaseLock::DatabaseLock(const QString &database, Hold hold)
{
    const QByteArray path = database.toUtf8();
    m_thread = std::thread([this, path, hold]() {
        sqlite3 *db = nullptr;
        sqlite3_open(path.constData(), &db);
        if (hold == Hold::AllReaders)
            sqlite3_exec(db, "pragma journal_mode=delete;", nullptr, nullptr, nullptr);
        m_locked =
            sqlite3_exec(db,
                         hold == Hold::AsReader ? "begin; select count(*) from sqlite_master;"
                                                : "begin exclusive;",
                         nullptr, nullptr, nullptr) == SQLITE_OK;
        m_ready = true;
        while (!m_release)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sqlite3_exec(db, "rollback;", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    while (!m_ready)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

DatabaseLock::~DatabaseLock()
{
    release();
}

void DatabaseLock::release()
{
    m_release = true;
    if (m_thread.joinable())
        m_thread.join();
}
