#pragma once

#include "queues/queueworker.h"

// Upgrades installed packages: downloads the catalog's version, then installs it over the old.
class UpdateRpmThread : public QueueWorker
{
    Q_OBJECT

public:
    UpdateRpmThread();

    using QueueWorker::deleteQueue;

signals:
    // The download phase succeeded; the installation follows.
    void downloadExecEnd(const QString &oper, int result, const QString &echo, const QString &key);
    void updateRpmExecEnd(const QString &oper, int result, const QString &echo, const QString &key);

protected:
    void run() override;
    bool runTask(const OperInfo &task) override;
    void reportFailure(const OperInfo &task) override;
    void emitWorkerEnd(const QString &oper, int result, const QString &echo,
                       const QString &key) override;
    QString packagePath() const override;

private:
    bool download(const QString &directory, const QString &rpmname);
    static void logDownloadFailure(const OperInfo &task);

    QString m_pkgpath; // read once when the thread starts
};
