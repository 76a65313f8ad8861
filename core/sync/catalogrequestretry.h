#pragma once

#include <QObject>
#include <QTimer>

// Asks the catalog server for the catalog (CatalogRequest) until a whole catalog comes: a
// request or its answer can be lost (the server down, a broker node holding the desktop's queue
// down), and nothing else would ask again before the next start or refresh. Asks again after
// pauses doubling from firstPauseMs, at most attempts times in all; the server answers every
// request afresh, so an answer that was only late costs a second catalog, nothing more.
class CatalogRequestRetry : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultFirstPauseMs = 5000;
    // 5 s, 10 s, ... 160 s: the last request goes some five minutes after the first.
    static constexpr int DefaultAttempts = 7;

    explicit CatalogRequestRetry(int firstPauseMs = DefaultFirstPauseMs,
                                 int attempts = DefaultAttempts, QObject *parent = nullptr);

    // Requests made so far for the current round.
    int attempts() const { return m_attempts; }
    bool isWaiting() const { return m_timer.isActive(); }

public slots:
    // Sends the requests (CatalogRequest::send) and starts a new round of waiting.
    void start();
    // A whole catalog came: nothing more is asked.
    void answered();

private:
    void again();

    const int m_firstPauseMs;
    const int m_maxAttempts;
    int m_attempts = 0;
    QTimer m_timer;
};
