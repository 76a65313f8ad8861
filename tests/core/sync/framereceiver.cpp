#include "framereceiver.h"

#include "vqs.h"

#include <QTest>

namespace
{
const QString Probe = QStringLiteral("<frame action='probe'/>");
}

int FrameRecorder::countStartingWith(const QString &prefix) const
{
    int n = 0;
    for (const QString &frame : frames)
        n += frame.startsWith(prefix) ? 1 : 0;
    return n;
}

void FrameRecorder::record(const QString &data, const QStringList &packages)
{
    if (data == QLatin1String("info"))
        return;
    frames << data;
    lists << packages;
}

FrameReceiver::FrameReceiver()
{
    QObject::connect(&m_thread, &HeartThread::recvServerData, &recorder, &FrameRecorder::record,
                     Qt::QueuedConnection);
}

FrameReceiver::~FrameReceiver()
{
    stop();
}

bool FrameReceiver::start()
{
    m_thread.start();
    for (int attempt = 0; attempt < 60; ++attempt) {
        vqs_message_send("127.0.0.1", Probe.toUtf8().constData());
        if (QTest::qWaitFor([&]() { return recorder.frames.contains(Probe); }, 500))
            return true;
    }
    return false;
}

bool FrameReceiver::stop()
{
    if (!m_thread.isRunning())
        return true;
    vqs_message_send("127.0.0.1", "process-run-end");
    return m_thread.wait(30000);
}

bool FrameReceiver::drain(const QString &tag)
{
    const QString marker = QStringLiteral("<frame action='%1'/>").arg(tag);
    vqs_message_send("127.0.0.1", marker.toUtf8().constData());
    return QTest::qWaitFor([&]() { return recorder.frames.contains(marker); }, 60000) &&
           iconFetchesEnded(m_thread);
}

bool iconFetchesEnded(HeartThread &receiver)
{
    return QTest::qWaitFor([&]() { return receiver.waitForIcons(10); }, 120000);
}
