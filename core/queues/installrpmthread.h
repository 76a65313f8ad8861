#pragma once

#include "queues/queueworker.h"

// Installs packages that an earlier download left in their download directories.
class InstallRpmThread : public QueueWorker
{
    Q_OBJECT

public:
    InstallRpmThread();

signals:
    void installExecEnd(const QString &oper, int result, const QString &echo, const QString &key);

protected:
    bool runTask(const OperInfo &task) override;
    void reportFailure(const OperInfo &task) override;
    void emitWorkerEnd(const QString &oper, int result, const QString &echo,
                       const QString &key) override;
};
