#include "stallwatch.h"

StallWatch::StallWatch(int intervalMs)
{
    m_timer.setInterval(intervalMs);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &StallWatch::tick);
    restart();
}

void StallWatch::restart()
{
    m_longest = 0;
    m_sinceTick.start();
    m_timer.start();
}

void StallWatch::tick()
{
    m_longest = qMax(m_longest, m_sinceTick.restart());
}

bool StallWatch::responsive(const char *during) const
{
    qInfo("longest time the GUI thread was kept from its events%s%s: %lld ms", during ? " " : "",
          during ? during : "", m_longest);
    return m_longest < LimitMs;
}
