#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <thread>

// Watches the event loop of the thread it lives on: a short timer notes the longest time
// between two of its ticks, which is how long that thread was kept from its events. A thread
// of its own ticks beside it: the time it was kept from running too was the machine's, not a
// call blocking the watched thread, and is not counted against it.
class StallWatch : public QObject
{
public:
    explicit StallWatch(int intervalMs = 20);
    ~StallWatch() override;

    // How long the GUI thread may go without its events while a test meets a fault.
    static constexpr qint64 LimitMs = 1000;

    void restart();
    // The longest gap the watched thread alone was kept from its events.
    qint64 longestGapMs() const { return m_longest; }
    // Whether the longest gap stayed under limitMs; says how close it came, and during what.
    bool responsive(const char *during = nullptr, qint64 limitMs = LimitMs) const;

private:
    void tick();
    void pace();

    const int m_intervalMs;
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
    qint64 m_longestRaw = 0;           // the machine's delays included
    std::atomic<qint64> m_paceLate{0}; // longest lateness of the pacer since the last tick
    std::atomic<bool> m_stop{false};
    std::thread m_pacer;
};
