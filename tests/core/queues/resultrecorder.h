#pragma once

#include "queues/queueworker.h"

#include <memory>

#include <QObject>
#include <QStringList>

class DownloadThread;
class GetAuthThread;
class InstallRpmThread;
class QuitInstallThread;
class UpdateRpmThread;

// Collects the result signals of queue workers in the order they arrive in the test's
// thread, each as "signal operation code echo key".
class ResultRecorder : public QObject
{
    Q_OBJECT

public:
    void watch(GetAuthThread *worker);
    void watch(InstallRpmThread *worker);
    void watch(QuitInstallThread *worker);
    void watch(DownloadThread *worker);
    void watch(UpdateRpmThread *worker);

    QStringList results;
    // The workers' common taskEnded, each as "operation code echo key".
    QStringList ended;

private:
    template <typename Worker, typename Signal>
    void record(Worker *worker, Signal signal, const char *name);
    void recordEnded(QueueWorker *worker);
};

// Workers run commands until stopped; none may outlive its sandbox.
struct StopAndWait {
    void operator()(QueueWorker *worker) const
    {
        worker->stop();
        worker->wait();
        delete worker;
    }
};
using WorkerPtr = std::unique_ptr<QueueWorker, StopAndWait>;

template <typename Worker> WorkerPtr watched(ResultRecorder &recorder)
{
    auto *worker = new Worker;
    recorder.watch(worker);
    return WorkerPtr(worker);
}
