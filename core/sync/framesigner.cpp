#include "sync/framesigner.h"

#include "sync/framesignature.h"

#include <QDateTime>

#include <algorithm>

FrameSigner::FrameSigner(SigningKey key, const QString &sequenceFile)
{
    setKey(std::move(key), sequenceFile);
}

void FrameSigner::setKey(SigningKey key, const QString &sequenceFile)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_key = std::move(key);
    m_sequence.reset();
    if (!sequenceFile.isEmpty()) {
        m_sequence = std::make_unique<FrameSequence>(sequenceFile, false);
        m_last = std::max(m_last, m_sequence->last());
    }
}

quint64 FrameSigner::nextSequence()
{
    const quint64 now = quint64(QDateTime::currentMSecsSinceEpoch()) * 1000;
    m_last = now > m_last ? now : m_last + 1;
    if (m_sequence)
        m_sequence->advance(m_last);
    return m_last;
}

QByteArray FrameSigner::seal(const QByteArray &frame, const QString &group)
{
    if (m_key.isNull())
        return frame;
    std::lock_guard<std::mutex> guard(m_lock);
    const qint64 expires = QDateTime::currentSecsSinceEpoch() + m_validity;
    return FrameSignature::seal(frame, nextSequence(), quint64(qMax<qint64>(1, expires)), m_key,
                                group);
}

QString FrameSigner::seal(const QString &frame, const QString &group)
{
    return m_key.isNull() ? frame : QString::fromUtf8(seal(frame.toUtf8(), group));
}
