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

    // How long the GUI thread may go without its events while a test meets a fault.
    static constexpr qint64 LimitMs = 1000;

    void restart();
    qint64 longestGapMs() const { return m_longest; }
    // Whether the longest gap stayed under LimitMs; says how close it came, and during what.
    bool responsive(const char *during = nullptr) const;

private:
    void tick();

    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};
