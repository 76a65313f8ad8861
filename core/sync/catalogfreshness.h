#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Tells "no news" from "news withheld": a store that checks frames and has taken no fresh
// signed frame (a heartbeat does) for max_catalog_age says so once, in the log, in syslog and
// through staleChanged, and says it no more once a fresh one arrives.
class CatalogFreshness : public QObject
{
    Q_OBJECT

public:
    // When the last fresh signed frame was taken (Unix seconds); 0 while frames go unchecked.
    using LastFresh = std::function<qint64()>;

    // client-config max_catalog_age (seconds) when it is a positive number.
    static constexpr qint64 DefaultMaxAge = 3 * 24 * 3600;
    static qint64 maxAge();

    explicit CatalogFreshness(LastFresh lastFresh, QObject *parent = nullptr);

    // Checks every periodMs from now on; 0: every minute, or twice within a shorter
    // max_catalog_age.
    void start(int periodMs = 0);
    void check();
    bool isStale() const { return m_stale; }

signals:
    void staleChanged(bool stale);

private:
    LastFresh m_lastFresh;
    QTimer m_timer;
    bool m_stale = false;
};
