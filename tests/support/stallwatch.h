#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Watches the event loop of the thread it lives on: a short timer notes the longest time
// between two of its ticks, which is how long that thread was kept from its events.
class StallWatch : public QObject
{
public:
    explicit StallWatch(int intervalMs = 20);

    void restart();
    qint64 longestGapMs() const { return m_longest; }

private:
    void tick();

    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};
