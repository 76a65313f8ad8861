#pragma once

#include <QString>

#include <atomic>
#include <thread>

// An exclusive lock on an SQLite file, held by a connection on a thread of its own (as another
// process would hold it) from construction until release.
class DatabaseLock
{
public:
    // readersWait: the file is turned to a rollback journal first (for good), so that the lock
    // holds readers too; in write-ahead logging they read on.
    explicit DatabaseLock(const QString &database, bool readersWait = false);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock &) = delete;
    DatabaseLock &operator=(const DatabaseLock &) = delete;

    bool isLocked() const { return m_locked; }
    void release();

private:
    std::thread m_thread;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_locked{false};
    std::atomic<bool> m_release{false};
};
