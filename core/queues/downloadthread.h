#pragma once

#include "queues/queueworker.h"

// Downloads packages into their download directories without installing them.
class DownloadThread : public QueueWorker
{
    Q_OBJECT

public:
    DownloadThread();

    using QueueWorker::deleteQueue;

signals:
    void downloadExecEnd(const QString &oper, int result, const QString &echo, const QString &key);

protected:
    bool runTask(const OperInfo &task) override;
    void reportFailure(const OperInfo &task) override;
    void emitWorkerEnd(const QString &oper, int result, const QString &echo,
                       const QString &key) override;
};
