#pragma once

#include <QString>

// A sequence in a file of its own: the catalog server's last signed one, so that a restart
// never signs under a sequence already used. (A store keeps the one it accepted in its
// catalog database, see AcceptedSequence.)
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
