#pragma once

#include "queues/queueworker.h"

// One-click install: downloads a package, then installs it.
class QuitInstallThread : public QueueWorker
{
    Q_OBJECT

public:
    QuitInstallThread();

    using QueueWorker::deleteQueue;

signals:
    // The download phase succeeded; the installation follows.
    void downloadExecEnd(const QString &oper, int result, const QString &echo, const QString &key);
    void quickinstallExecEnd(const QString &oper, int result, const QString &echo,
                             const QString &key);

protected:
    bool runTask(const OperInfo &task) override;
    void reportFailure(const OperInfo &task) override;
    void emitWorkerEnd(const QString &oper, int result, const QString &echo,
                       const QString &key) override;
};
