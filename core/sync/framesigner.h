#pragma once

#include "sync/framesequence.h"
#include "sync/signingkey.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <atomic>
#include <memory>
#include <mutex>

// The catalog server's side of signed frames: seals each frame with its key under a sequence
// that only grows, valid for a while from now. The sequence is the time in microseconds, or one
// more than the last when that is not greater, and is kept beside the key (KEY.sequence), so
// neither a restart nor a clock set back makes a new frame look older than one already sent.
class FrameSigner
{
public:
    // Without a key nothing is signed and frames go out as they are.
    FrameSigner() = default;
    explicit FrameSigner(SigningKey key, const QString &sequenceFile = QString());
    void setKey(SigningKey key, const QString &sequenceFile = QString());

    bool isSigning() const { return !m_key.isNull(); }
    // How long a frame stays valid from its signing; negative signs frames expired already.
    void setValidity(qint64 seconds) { m_validity = seconds; }
    qint64 validity() const { return m_validity; }
    static constexpr qint64 DefaultValidity = 7 * 24 * 3600;
    QByteArray keyId() const { return m_key.id(); }
    // The frame signed (empty when it does not start as a frame does), or unchanged without
    // a key. Safe from several threads.
    // group: the group of desktops it is made for, named in the signed bytes; empty for all.
    QByteArray seal(const QByteArray &frame, const QString &group = QString());
    QString seal(const QString &frame, const QString &group = QString());
    // Many frames for all groups under consecutive sequences, the sequence file written once.
    QVector<QByteArray> sealAll(const QVector<QByteArray> &frames);

private:
    // The first of count new sequences, kept before any is used.
    quint64 nextSequences(quint64 count = 1);

    SigningKey m_key;
    std::unique_ptr<FrameSequence> m_sequence;
    quint64 m_last = 0;
    std::atomic<qint64> m_validity{DefaultValidity};
    std::mutex m_lock;
};
