#pragma once

#include "queues/queueworker.h"

// Uninstalls packages.
class GetAuthThread : public QueueWorker
{
    Q_OBJECT

public:
    GetAuthThread();

    void insertQueue(const OperInfo &task) override;
    using QueueWorker::deleteQueue;

signals:
    void uninstallExecEnd(const QString &oper, int result, const QString &echo, const QString &key);

protected:
    bool runTask(const OperInfo &task) override;
    void reportFailure(const OperInfo &task) override;
    void emitWorkerEnd(const QString &oper, int result, const QString &echo,
                       const QString &key) override;

private:
    static QString removeCommand(const OperInfo &task);
    static bool isStillListed(const QString &rpmname);
};
