#include "facade/catalogsync.h"

#include "engine/updatethread.h"
#include "facade/facadelog.h"
#include "records/clientconfig.h"
#include "sync/catalogfreshness.h"
#include "sync/catalogrequestretry.h"
#include "sync/getvqsdatathread.h"
#include "sync/heartthread.h"
#include "sync/initdatathread.h"
#include "sync/reportsender.h"
#include "vqs.h"

#include <QDebug>

namespace
{
// The receiver normally ends within moments of the stop word; when the transport cannot
// deliver it, the thread is left to end with the process rather than hang the caller.
constexpr unsigned long HeartShutdownWaitMs = 10000;
} // namespace

CatalogSync::CatalogSync(QObject *parent)
    : QObject(parent),
      m_request(new CatalogRequestRetry(CatalogRequestRetry::DefaultFirstPauseMs,
                                        CatalogRequestRetry::DefaultAttempts, this))
{
}

CatalogSync::~CatalogSync()
{
    stop();
}

void CatalogSync::start()
{
    // The load never emits recvServerData, and a frame reaches the receiver only over the
    // transport: recvServerData is connected right after each start.
    m_initThread = new InitDataThread;
    m_initThread->start();
    qDebug() << "************************22222";
    connect(m_initThread, &InitDataThread::recvServerData, this, &CatalogSync::catalogChanged);

    m_heartThread = new HeartThread;
    // These come early: connected before the start, so that none is lost.
    connect(m_heartThread, &HeartThread::iconFetched, this, &CatalogSync::iconsFetched);
    // Asked once the receiver can take the answer, not after a guessed pause.
    connect(m_heartThread, &HeartThread::receiverOpened, this, &CatalogSync::requestCatalog);
    // A heartbeat naming a push this store never took: the catalog is asked for again.
    connect(m_heartThread, &HeartThread::catalogBehind, this, &CatalogSync::requestCatalog);
    connect(m_heartThread, &HeartThread::catalogAnswered, m_request,
            &CatalogRequestRetry::answered);
    m_heartThread->start();
    connect(m_heartThread, &HeartThread::recvServerData, this, &CatalogSync::catalogChanged);
    m_freshness = new CatalogFreshness(
        [this] { return m_heartThread ? m_heartThread->lastFreshFrame() : 0; }, this);
    connect(m_freshness, &CatalogFreshness::staleChanged, this, &CatalogSync::catalogStale);
    m_freshness->start();

    m_reportSender = new ReportSender;
    m_reportSender->start();
}

void CatalogSync::startPushPoller()
{
    // Runs for the life of the process; nothing keeps it.
    auto *poller = new GetVQSDataThread;
    poller->start();
}

void CatalogSync::requestCatalog()
{
    m_request->start();
}

void CatalogSync::refresh()
{
    auto *thread = new UpdateThread;
    connect(thread, &UpdateThread::updateEnd, this, &CatalogSync::refreshEnded);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void CatalogSync::stop()
{
    // What it has not sent stays in the outbox for the next start.
    delete m_reportSender;
    m_reportSender = nullptr;
    if (m_initThread) {
        if (m_initThread->isRunning()) {
            m_initThread->wait();
            m_initThread->quit();
        }
        delete m_initThread;
        m_initThread = nullptr;
    }
    if (!m_heartThread)
        return;

    // A receiver that has already ended needs no word: the transport would only carry it to
    // whoever listens next.
    if (m_heartThread->isRunning()) {
        const QByteArray local = ClientConfig::localip().toUtf8();
        // Told directly, so that the word ends it even where frames must be signed.
        m_heartThread->expectStop();
        vqs_message_send(local.constData(), "process-run-end");
        qCDebug(facadeLog) << "stop word sent to" << local;
        if (!m_heartThread->wait(HeartShutdownWaitMs)) {
            qCWarning(facadeLog) << "frame receiver did not end; left to the process";
            m_heartThread = nullptr;
            return;
        }
        m_heartThread->quit();
    }
    delete m_heartThread;
    m_heartThread = nullptr;
}
