#include "engine/rpmlock.h"

QRecursiveMutex RpmLock::m_mutex;
QAtomicInt RpmLock::m_waiting;

RpmLock::RpmLock()
{
    acquire();
}

RpmLock::~RpmLock()
{
    release();
}

void RpmLock::acquire()
{
    if (m_mutex.tryLock())
        return;
    m_waiting.ref();
    m_mutex.lock();
    m_waiting.deref();
}

void RpmLock::release()
{
    m_mutex.unlock();
}

int RpmLock::waiting()
{
    return m_waiting.loadAcquire();
}
