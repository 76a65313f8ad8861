#include "serving/streamnudge.h"

void StreamNudge::written(const QByteArray &key, qint64 nowMs)
{
    if (m_quietMs <= 0)
        return;
    m_written.insert(key);
    m_lastWriteMs = nowMs;
}

QList<QByteArray> StreamNudge::due(qint64 nowMs)
{
    if (m_written.isEmpty() || nowMs - m_lastWriteMs < m_quietMs)
        return {};
    const QList<QByteArray> keys = m_written.values();
    m_written.clear();
    return keys;
}
