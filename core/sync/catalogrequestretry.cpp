#include "sync/catalogrequestretry.h"

#include "sync/catalogrequest.h"
#include "sync/synclog.h"

CatalogRequestRetry::CatalogRequestRetry(int firstPauseMs, int attempts, QObject *parent)
    : QObject(parent), m_firstPauseMs(firstPauseMs), m_maxAttempts(attempts)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CatalogRequestRetry::again);
}

void CatalogRequestRetry::start()
{
    m_attempts = 1;
    CatalogRequest::send();
    m_timer.start(m_firstPauseMs);
}

void CatalogRequestRetry::answered()
{
    if (m_timer.isActive())
        qCDebug(syncLog) << "catalog answered after" << m_attempts << "request(s)";
    m_timer.stop();
}

void CatalogRequestRetry::again()
{
    if (m_attempts >= m_maxAttempts) {
        qCWarning(syncLog) << "no catalog after" << m_attempts
                           << "requests; asked again at the next start or refresh";
        return;
    }
    ++m_attempts;
    qCInfo(syncLog) << "no catalog yet: request" << m_attempts << "of" << m_maxAttempts;
    CatalogRequest::ask();
    // Doubling, so a server or node away for long is not asked in a tight loop.
    m_timer.start(m_firstPauseMs << (m_attempts - 1));
}
