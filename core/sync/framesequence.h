#pragma once

#include <QString>

// The sequence of the last signed frame a store accepted, in a file of its own, so a frame
// captured before a restart cannot undo a newer one after it.
class FrameSequence
{
public:
    // durable: each value reaches the disk before advance returns.
    explicit FrameSequence(const QString &path, bool durable = true);

    quint64 last() const { return m_last; }
    // Takes sequence as the last accepted and writes it through; false when the file could not
    // be written (the sequence still holds for this process).
    bool advance(quint64 sequence);

private:
    QString m_path;
    quint64 m_last = 0;
    bool m_durable;
};
