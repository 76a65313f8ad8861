#pragma once

#include "sync/heartthread.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

// Keeps what the frame receiver reports, delivered to the test's thread as the facade gets it.
class FrameRecorder : public QObject
{
    Q_OBJECT

public:
    // Frames as composed: a signature the receiver checked is taken off.
    QStringList frames;
    QVector<QStringList> lists;
    QStringList dropped; // texts the receiver refused to apply

    int countStartingWith(const QString &prefix) const;

public slots:
    void record(const QString &data, const QStringList &packages);
    void recordDropped(const QString &data);
};

// Until the icon fetches the receiver has queued so far have ended; the event loop runs
// meanwhile (an HTTP server's output reaches the test through it).
bool iconFetchesEnded(HeartThread &receiver);

// The frame receiver on its own thread, fed over the loopback transport as the facade runs it.
class FrameReceiver
{
public:
    // self: where the probes go, the address this desktop receives at (its VQS_BIND over
    // direct TCP; through the broker 127.0.0.1 reaches the process's own receiver).
    explicit FrameReceiver(const QString &self = QStringLiteral("127.0.0.1"));
    ~FrameReceiver();

    // Starts it and waits until it handles messages: probes are sent until one comes back.
    // Probes and drain markers are not signed: with a key trusted they come back dropped.
    bool start();
    bool stop();
    bool isRunning() const { return m_thread.isRunning(); }
    const HeartThread &thread() const { return m_thread; }
    HeartThread &thread() { return m_thread; }
    // Everything sent to this client before now has been handled, icons fetched included,
    // once this returns true.
    bool drain(const QString &tag);

    FrameRecorder recorder;

private:
    bool handled(const QString &marker) const;

    const QString m_self;
    HeartThread m_thread;
};
