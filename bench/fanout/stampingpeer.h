#pragma once

#include "arrivals.h"

#include <QProcess>
#include <QProcessEnvironment>

// The real libvqs receiver among the benchmark's: vqspeer noting when each message came.
class StampingPeer
{
public:
    static const int WaitMs = 120000;

    // Started with env (its VQS_CONFIG) for messages messages; ready once it receives.
    StampingPeer(const QProcessEnvironment &env, int messages);
    ~StampingPeer();
    StampingPeer(const StampingPeer &) = delete;
    StampingPeer &operator=(const StampingPeer &) = delete;

    bool isReady() const { return m_ready; }
    // When its next message came; a default time when it does not come.
    Arrivals::Clock::time_point next();

private:
    QProcess m_process;
    bool m_ready = false;
};
