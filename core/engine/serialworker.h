#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QThread;

// Runs jobs one after another on a thread of its own, so that their shell commands never
// hold up the thread that asks, and hands each result back on the thread the worker was made
// in, and only while the object that asked still exists.
class SerialWorker : public QObject
{
    Q_OBJECT

public:
    // name: the thread's name, as debuggers and ps show it.
    explicit SerialWorker(const QString &name, QObject *parent = nullptr);
    // Waits for the job that runs; the queued ones are dropped.
    ~SerialWorker() override;

    template <typename Result>
    void run(QObject *asker, std::function<Result()> job, std::function<void(Result)> done)
    {
        QPointer<QObject> alive(asker);
        post([this, alive, job = std::move(job), done = std::move(done)] {
            Result result = job();
            // Back through this object, which outlives the asker: the asker may be gone.
            QMetaObject::invokeMethod(
                this,
                [alive, done, result] {
                    if (alive)
                        done(result);
                },
                Qt::QueuedConnection);
        });
    }

private:
    void post(std::function<void()> task);

    QThread *m_thread;
    QObject *m_context; // lives on m_thread; the jobs run in its event loop
};
