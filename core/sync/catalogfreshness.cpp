#include "sync/catalogfreshness.h"

#include "records/clientconfig.h"
#include "sync/synclog.h"

#include <QDateTime>

#include <syslog.h>

qint64 CatalogFreshness::maxAge()
{
    bool ok = false;
    const qint64 seconds = ClientConfig::value("max_catalog_age").toLongLong(&ok);
    return ok && seconds > 0 ? seconds : DefaultMaxAge;
}

CatalogFreshness::CatalogFreshness(LastFresh lastFresh, QObject *parent)
    : QObject(parent), m_lastFresh(std::move(lastFresh))
{
    connect(&m_timer, &QTimer::timeout, this, &CatalogFreshness::check);
}

void CatalogFreshness::start(int periodMs)
{
    m_timer.start(periodMs > 0 ? periodMs : int(qBound<qint64>(500, maxAge() * 500, 60000)));
}

void CatalogFreshness::check()
{
    const qint64 last = m_lastFresh();
    const qint64 age = QDateTime::currentSecsSinceEpoch() - last;
    const bool stale = last > 0 && age > maxAge();
    if (stale == m_stale)
        return;
    m_stale = stale;
    const QByteArray line =
        stale ? QStringLiteral("catalog not current: no fresh signed frame for %1 s (the catalog "
                               "server is not heard, or is kept from this store)")
                    .arg(age)
                    .toUtf8()
              : QByteArrayLiteral("catalog current again: a fresh signed frame arrived");
    qCWarning(syncLog).noquote() << line;
    syslog(stale ? LOG_WARNING : LOG_NOTICE, "corvane: %s", line.constData());
    emit staleChanged(stale);
}
