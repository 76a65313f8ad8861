#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class CatalogFreshness;
class CatalogRequestRetry;
class HeartThread;
class InitDataThread;
class ReportSender;

// The threads that load the catalog and keep it current: the load at start-up, the frame
// receiver, the push-file poller and the cache cleaning of a refresh.
class CatalogSync : public QObject
{
    Q_OBJECT

public:
    explicit CatalogSync(QObject *parent = nullptr);
    // Stops what is still running (see stop).
    ~CatalogSync() override;

    // Starts the load, the frame receiver and the report sender.
    void start();
    // Starts the push-file poller; it runs for the life of the process.
    void startPushPoller();
    // Cleans the package cache on a thread of its own (refreshEnded is forwarded from it).
    void refresh();
    // Waits for the load; then ends a receiver that still runs with the stop word sent to this
    // store's own address, the one way to wake a receive in progress.
    void stop();

public slots:
    // Asks the catalog server for the catalog, again while no whole catalog comes. The first
    // time at once when the receiver is attached.
    void requestCatalog();

signals:
    // The load or a frame changed the catalog; the packages whose package string changed.
    void catalogChanged(const QString &data, const QStringList &packages);
    void iconsFetched();
    void refreshEnded(int value);
    // True when no fresh signed frame came for max_catalog_age; false once one comes again.
    void catalogStale(bool stale);

private:
    InitDataThread *m_initThread = nullptr;
    HeartThread *m_heartThread = nullptr;
    CatalogFreshness *m_freshness = nullptr;
    ReportSender *m_reportSender = nullptr;
    CatalogRequestRetry *m_request = nullptr;
};
