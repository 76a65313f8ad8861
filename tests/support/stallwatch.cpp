#include "stallwatch.h"

#include <chrono>

StallWatch::StallWatch(int intervalMs) : m_intervalMs(intervalMs)
{
    m_timer.setInterval(intervalMs);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &StallWatch::tick);
    restart();
    m_pacer = std::thread([this] { pace(); });
}

StallWatch::~StallWatch()
{
    m_stop = true;
    m_pacer.join();
}

void StallWatch::restart()
{
    m_longest = 0;
    m_longestRaw = 0;
    m_paceLate = 0;
    m_sinceTick.start();
    m_timer.start();
}

void StallWatch::pace()
{
    QElapsedTimer clock;
    clock.start();
    while (!m_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(m_intervalMs));
        const qint64 late = clock.restart() - m_intervalMs;
        qint64 seen = m_paceLate;
        while (late > seen && !m_paceLate.compare_exchange_weak(seen, late)) {
        }
    }
}

void StallWatch::tick()
{
    const qint64 gap = m_sinceTick.restart();
    m_longestRaw = qMax(m_longestRaw, gap);
    m_longest = qMax(m_longest, gap - m_paceLate.exchange(0));
}

bool StallWatch::responsive(const char *during, qint64 limitMs) const
{
    qInfo("longest time the GUI thread was kept from its events%s%s: %lld ms (%lld ms with the "
          "machine's own delays)",
          during ? " " : "", during ? during : "", m_longest, m_longestRaw);
    return m_longest < limitMs;
}
