#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>

// The broker's streams written to lately. RabbitMQ before 3.13 tells a restarted replica that
// a write is committed only with the next write, so the desktops reading that replica miss
// the last push until another comes: a heartbeat written there once the pushes pause brings
// it. Unguarded: its owner's lock keeps it.
class StreamNudge
{
public:
    // How long the pushes to a stream pause before it is nudged, by default.
    static constexpr qint64 QuietMs = 2000;

    // quietMs 0: never nudged.
    explicit StreamNudge(qint64 quietMs = QuietMs) : m_quietMs(quietMs) {}

    // key: the routing key of a group's stream; empty for the broadcast one.
    void written(const QByteArray &key, qint64 nowMs);
    // The streams written to and quiet since; each is forgotten once given.
    QList<QByteArray> due(qint64 nowMs);

private:
    qint64 m_quietMs;
    QSet<QByteArray> m_written;
    qint64 m_lastWriteMs = 0;
};
