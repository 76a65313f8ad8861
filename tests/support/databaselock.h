#pragma once

#include <QString>

#include <atomic>
#include <thread>

// An exclusive lock on an SQLite file, held by a connection on a thread of its own (as another
// process would hold it) from construction until release. As a reader it holds a shared lock
// instead: others read and write, but no commit gets through.
class DatabaseLock
{
public:
    enum class Hold {
        Writers,    // an exclusive lock; in write-ahead logging readers still read
        AsReader,   // a shared lock: others read and write, but no commit gets through
        AllReaders, // the file turned to a rollback journal first (for good), then exclusive:
                    // readers wait too
    };
    explicit DatabaseLock(const QString &database, Hold hold = Hold::Writers);
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
