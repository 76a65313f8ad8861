#pragma once

#include <QAtomicInt>
#include <QRecursiveMutex>

// The one process-wide lock around work on the RPM database: the queue workers' rpm phases
// and every repair of the database. Recursive, because a worker that holds it may have its
// command's status decoded into a repair. The outermost acquire also takes the file lock every
// other process that runs rpm on this desktop takes (the agent), so rpm runs never overlap.
class RpmLock
{
public:
    // Held for the object's life.
    RpmLock();
    ~RpmLock();
    RpmLock(const RpmLock &) = delete;
    RpmLock &operator=(const RpmLock &) = delete;

    // Taken by trying repeatedly; the holder runs rpm for seconds, so each try waits a little.
    static void acquire();
    static void release();
    // Threads waiting for the lock at this moment.
    static int waiting();

private:
    // With the mutex just taken: the outermost hold takes the file lock too.
    static void locked();

    static QRecursiveMutex m_mutex;
    static QAtomicInt m_waiting;
    static int m_depth; // guarded by m_mutex
    static int m_file;  // the lock file while held, else -1
};
