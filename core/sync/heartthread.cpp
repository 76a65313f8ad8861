#include "sync/heartthread.h"

#include "engine/shellfunctions.h"
#include "records/paths.h"
#include "sync/acceptedsequence.h"
#include "sync/catalogframe.h"
#include "sync/framegate.h"
#include "sync/frameinbox.h"
#include "sync/framenotifier.h"
#include "sync/installedstaterefresh.h"
#include "sync/reportframe.h"
#include "sync/reportoutbox.h"
#include "sync/reportsender.h"
#include "sync/synclog.h"

#include <QByteArray>
#include <QDateTime>
#include <QDebug>

namespace
{
const char *const StopMessage = "process-run-end";
} // namespace

HeartThread::HeartThread(QObject *parent)
    : QThread(parent), m_icons([this](const QString &icon) {
          return m_writer.lookUp("select time from softwares where s_icon=?;", icon);
      })
{
    m_icons.setFetchEnded([this] { emit iconFetched(); });
}

HeartThread::~HeartThread()
{
    m_icons.setFetchEnded(nullptr);
}

void HeartThread::run()
{
    FrameInbox inbox;
    FrameGate gate(Paths::trustedKeyDirectory(), Paths::catalogDatabase(),
                   Paths::frameSequenceFile());
    // Says at once when frames go unchecked; otherwise the freshness goes on from the last
    // frame taken before this start.
    if (gate.isChecking()) {
        const qint64 at = AcceptedSequence::acceptedAt(Paths::catalogDatabase());
        m_lastFresh = at > 0 ? at : QDateTime::currentSecsSinceEpoch();
    }
    inbox.open();
    emit receiverOpened();
    for (;;) {
        const QByteArray text = inbox.receive();
        if (text == StopMessage) {
            if (m_stopExpected || !gate.isChecking())
                return;
            qCWarning(syncLog) << "stop word dropped: not sent by this store";
            emit frameDropped(QString::fromUtf8(text), QStringLiteral("stop word from outside"));
            continue;
        }
        const FrameGate::Verdict verdict = gate.admit(text);
        if (verdict != FrameGate::Verdict::Accepted && verdict != FrameGate::Verdict::Unchecked) {
            emit frameDropped(QString::fromUtf8(text),
                              QString::fromLatin1(FrameGate::reasonOf(verdict)));
            continue;
        }
        if (acknowledged(text))
            continue;
        m_iconsChecked = verdict == FrameGate::Verdict::Accepted;
        if (gate.heartbeatBehind()) {
            qCWarning(syncLog) << "heartbeat names a frame this store lacks: catalog asked again";
            emit catalogBehind();
            continue;
        }
        if (m_iconsChecked)
            m_lastFresh = QDateTime::currentSecsSinceEpoch();
        m_sequence = gate.acceptedSequence();
        // The frames are UTF-8 whatever the application's locale codec says.
        pigxmlData(QString::fromUtf8(text));
        m_sequence = 0;
    }
}

bool HeartThread::acknowledged(const QByteArray &text)
{
    // Only a frame the gate let through gets here: a forged ack empties nothing.
    if (!text.contains(ReportFrame::AckAction))
        return false;
    const QString data = QString::fromUtf8(text);
    CatalogFrame frame;
    QString error;
    if (!frame.parse(data, &error) || frame.actionText() != QLatin1String(ReportFrame::AckAction))
        return false;
    ReportFrame ack;
    if (!ack.parse(data, &error)) {
        qCWarning(syncLog) << "report_ack not understood:" << error;
        return true;
    }
    const int removed = ReportOutbox().acknowledge(ack.ackIds());
    qCDebug(syncLog) << "report_ack:" << removed << "report(s) acknowledged";
    // The next reports may go now.
    ReportSender::reportsAdded();
    return true;
}

void HeartThread::pigxmlData(const QString &data)
{
    CatalogFrame frame;
    QString error;
    if (!frame.parse(data, &error)) {
        qDebug() << error;
        return;
    }
    qDebug() << ">>>>> arch = " << frame.architecture();
    qDebug() << ">>>>> str = " << frame.actionText();

    const FrameAction action = frame.action();
    switch (action) {
    case FrameAction::JoinResponse:
        return;
    case FrameAction::Heartbeat:
        // Only its freshness counts; the window has nothing to redraw.
        if (m_iconsChecked && !m_writer.storeFreshness())
            qCWarning(syncLog) << "freshness not stored: heartbeat";
        return;
    case FrameAction::DataResponse:
    case FrameAction::CatalogPart:
    case FrameAction::AddPush:
    case FrameAction::UpdatePush:
    case FrameAction::DeletePush:
    // The writer stores none of their packages; the sequence and the refresh still count.
    case FrameAction::JoinRequest:
    case FrameAction::DataRequest:
    case FrameAction::Other:
        break;
    }
    const bool ours = frame.isForThisArchitecture();
    const bool wholeCatalog =
        (action == FrameAction::DataResponse || frame.isCatalogPart()) && ours;
    // Every frame ends with the same reload, so a catalog in parts needs this one only
    // before its first part.
    if (wholeCatalog && !(frame.isCatalogPart() && m_writer.isGathering(frame))) {
        qDebug() << ">>>>> exec initLocalData()";
        initLocalData();
    }
    QStringList changed;
    if (ours) {
        const auto stored = m_writer.store(
            frame,
            [this](const CatalogPackage &package) {
                m_icons.note(package.icon, package.time, package.iconDigest, m_iconsChecked);
                checkIconDownload(package.icon, package.time, package.iconDigest);
            },
            m_sequence);
        if (!stored)
            return;
        changed = *stored;
        qDebug() << "[before delete] str = " << frame.actionText();
        if (wholeCatalog && !m_writer.reconcile(frame))
            return;
        // What is installed here reads against the catalog just stored.
        if (wholeCatalog)
            ReportSender::catalogApplied();
        FrameNotifier::notifyAbout(frame);
    } else if (m_sequence != 0 && !m_writer.storeSequence(m_sequence)) {
        qCWarning(syncLog) << "frame sequence not stored:" << frame.actionText();
    }
    qCDebug(syncLog) << "frame applied:" << frame.actionText() << changed.size() << "changed";

    if (action == FrameAction::DataResponse)
        emit catalogAnswered();
    UpdatePushxmlData();
    emit recvServerData(data, changed);
    emit updateEnd(0);
}

void HeartThread::initLocalData()
{
    InstalledStateRefresh::refreshTable();
}

void HeartThread::UpdatePushxmlData()
{
    if (!InstalledStateRefresh::refreshStates())
        return;
    emit recvServerData(QStringLiteral("info"), QStringList());
    emit updateEnd(0);
}

int HeartThread::isExists(const QString &name, const QString &rpm)
{
    return m_writer.rowState(name, rpm);
}

bool HeartThread::isFetchableIcon(const QString &icon)
{
    return IconKeeper::isFetchableIcon(icon);
}

bool HeartThread::waitForIcons(int timeoutMs)
{
    return m_icons.waitForIdle(timeoutMs);
}

void HeartThread::checkIconDownload(const QString &icon, const QString &time)
{
    checkIconDownload(icon, time, QString());
}

void HeartThread::checkIconDownload(const QString &icon, const QString &time, const QString &digest)
{
    if (m_iconsChecked) {
        checkSignedIcon(icon, digest);
        return;
    }
    m_icons.checkUnsigned(icon, time);
}

void HeartThread::checkSignedIcon(const QString &icon, const QString &digest)
{
    m_icons.checkSigned(icon, digest);
}

void HeartThread::downLoadIcons()
{
    m_icons.fetchAll();
}

bool HeartThread::removeDirectory(const QString &path)
{
    return ::removeDirectory(path);
}
