#include "tasks/progressprobe.h"

#include <QCoreApplication>
#include <QThread>

ProgressProbe &ProgressProbe::instance()
{
    static ProgressProbe *probe = [] {
        qRegisterMetaType<ProgressQuery>();
        qRegisterMetaType<ProgressReading>();
        auto *made = new ProgressProbe;
        made->setParent(QCoreApplication::instance());
        return made;
    }();
    return *probe;
}

ProgressProbe::ProgressProbe() : m_thread(new QThread), m_worker(new QObject)
{
    m_thread->setObjectName(QStringLiteral("progress probe"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    // Queued both ways: the measurement on the probe's thread, the result on this one.
    connect(
        this, &ProgressProbe::measureRequested, m_worker,
        [this](quint64 token, const ProgressQuery &query) {
            const ProgressReading reading = ProgressMeter::measure(query);
            QMetaObject::invokeMethod(
                this, [this, token, reading] { deliver(token, reading); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    m_thread->start();
}

ProgressProbe::~ProgressProbe()
{
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void ProgressProbe::measure(QObject *row, const ProgressQuery &query,
                            std::function<void(const ProgressReading &)> done)
{
    const quint64 token = ++m_lastToken;
    m_pending.insert(token, Pending{row, std::move(done)});
    emit measureRequested(token, query);
}

void ProgressProbe::deliver(quint64 token, const ProgressReading &reading)
{
    const Pending pending = m_pending.take(token);
    if (pending.row)
        pending.done(reading);
}
