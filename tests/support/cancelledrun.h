#pragma once

#include "engine/processkiller.h"

#include <QString>

#include <utility>

// While it lives, the task of key is running and cancelled, as the queue marks it when the
// user cancels a running download: a killer of that key looks for its processes.
class CancelledRun
{
public:
    explicit CancelledRun(QString key) : m_key(std::move(key))
    {
        ProcessKiller::runningCancelled(m_key);
    }
    ~CancelledRun() { ProcessKiller::runningEnded(m_key); }
    CancelledRun(const CancelledRun &) = delete;
    CancelledRun &operator=(const CancelledRun &) = delete;

private:
    QString m_key;
};
