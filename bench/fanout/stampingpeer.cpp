#include "stampingpeer.h"

StampingPeer::StampingPeer(const QProcessEnvironment &env, int messages)
{
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(VQS_PEER_PROGRAM, {"stamp", QString::number(messages)});
    m_ready = m_process.waitForReadyRead(WaitMs) && m_process.readLine() == "init 0\n";
}

StampingPeer::~StampingPeer()
{
    m_process.kill();
    m_process.waitForFinished();
}

Arrivals::Clock::time_point StampingPeer::next()
{
    while (!m_process.canReadLine())
        if (!m_process.waitForReadyRead(WaitMs))
            return {};
    const long long ns = m_process.readLine().split(' ').value(0).toLongLong();
    return Arrivals::Clock::time_point(std::chrono::nanoseconds(ns));
}
