#include "framereceiver.h"

#include "sync/framesignature.h"
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
    FrameSignature envelope;
    const QString newline = data.endsWith(QLatin1Char('\n')) ? QStringLiteral("\n") : QString();
    frames << (envelope.read(data.toUtf8()) ? QString::fromUtf8(envelope.frame()) + newline : data);
    lists << packages;
}

void FrameRecorder::recordDropped(const QString &data)
{
    dropped << data;
}

FrameReceiver::FrameReceiver(const QString &self) : m_self(self)
{
    QObject::connect(&m_thread, &HeartThread::recvServerData, &recorder, &FrameRecorder::record,
                     Qt::QueuedConnection);
    QObject::connect(&m_thread, &HeartThread::frameDropped, &recorder,
                     &FrameRecorder::recordDropped, Qt::QueuedConnection);
}

FrameReceiver::~FrameReceiver()
{
    stop();
}

bool FrameReceiver::start()
{
    m_thread.start();
    for (int attempt = 0; attempt < 60; ++attempt) {
        vqs_message_send(m_self.toLatin1().constData(), Probe.toUtf8().constData());
        if (QTest::qWaitFor([&]() { return handled(Probe); }, 500))
            return true;
    }
    return false;
}

bool FrameReceiver::stop()
{
    if (!m_thread.isRunning())
        return true;
    m_thread.expectStop();
    vqs_message_send(m_self.toLatin1().constData(), "process-run-end");
    return m_thread.wait(30000);
}

bool FrameReceiver::drain(const QString &tag)
{
    const QString marker = QStringLiteral("<frame action='%1'/>").arg(tag);
    vqs_message_send(m_self.toLatin1().constData(), marker.toUtf8().constData());
    return QTest::qWaitFor([&]() { return handled(marker); }, 60000) && iconFetchesEnded(m_thread);
}

bool FrameReceiver::handled(const QString &marker) const
{
    return recorder.frames.contains(marker) || recorder.dropped.contains(marker);
}

bool iconFetchesEnded(HeartThread &receiver)
{
    return QTest::qWaitFor([&]() { return receiver.waitForIcons(10); }, 120000);
}
