#include "tasks/progressprobe.h"

#include "engine/serialworker.h"

#include <QCoreApplication>

ProgressProbe &ProgressProbe::instance()
{
    static ProgressProbe probe;
    return probe;
}

ProgressProbe::ProgressProbe()
    : m_worker(new SerialWorker(QStringLiteral("progress probe"), QCoreApplication::instance()))
{
}

void ProgressProbe::measure(QObject *row, const ProgressQuery &query,
                            std::function<void(const ProgressReading &)> done)
{
    m_worker->run<ProgressReading>(
        row, [query] { return ProgressMeter::measure(query); },
        [done = std::move(done)](ProgressReading reading) { done(reading); });
}
