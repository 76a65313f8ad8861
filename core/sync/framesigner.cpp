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

quint64 FrameSigner::nextSequences(quint64 count)
{
    const quint64 now = quint64(QDateTime::currentMSecsSinceEpoch()) * 1000;
    const quint64 first = now > m_last ? now : m_last + 1;
    m_last = first + count - 1;
    if (m_sequence)
        m_sequence->advance(m_last);
    return first;
}

QByteArray FrameSigner::seal(const QByteArray &frame, const QString &group)
{
    if (m_key.isNull())
        return frame;
    std::lock_guard<std::mutex> guard(m_lock);
    const qint64 expires = QDateTime::currentSecsSinceEpoch() + m_validity;
    return FrameSignature::seal(frame, nextSequences(), quint64(qMax<qint64>(1, expires)), m_key,
                                group);
}

QVector<QByteArray> FrameSigner::sealAll(const QVector<QByteArray> &frames)
{
    if (m_key.isNull() || frames.isEmpty())
        return frames;
    std::lock_guard<std::mutex> guard(m_lock);
    const qint64 expires = QDateTime::currentSecsSinceEpoch() + m_validity;
    quint64 sequence = nextSequences(quint64(frames.size()));
    QVector<QByteArray> sealed;
    sealed.reserve(frames.size());
    for (const QByteArray &frame : frames)
        sealed << FrameSignature::seal(frame, sequence++, quint64(qMax<qint64>(1, expires)), m_key,
                                       QString());
    return sealed;
}

QString FrameSigner::seal(const QString &frame, const QString &group)
{
    return m_key.isNull() ? frame : QString::fromUtf8(seal(frame.toUtf8(), group));
}
