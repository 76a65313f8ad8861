#include "queues/installrpmthread.h"

#include "engine/shellfunctions.h"
#include "records/codes.h"
#include "records/operationword.h"

InstallRpmThread::InstallRpmThread() : QueueWorker(Pause::AfterEveryTask, OperationWord::install())
{
}

bool InstallRpmThread::runTask(const OperInfo &task)
{
    const QString directory = downloadDirectory(task);
    lockRpm();
    const int result = runEvaluated(upgradeCommand(directory));
    const bool installed = checkInstallation(task.m_rpmname, result);
    if (installed) {
        removeDirectory(directory);
        recordInstallation(task);
    }
    // A failed installation keeps the downloaded files for another attempt.
    unlockRpm();

    if (!installed) {
        reportFailure(task);
        return false;
    }
    endTask(task, ResultSuccess);
    return true;
}

void InstallRpmThread::reportFailure(const OperInfo &task)
{
    endTask(task, ResultInstallFailed);
}

void InstallRpmThread::emitWorkerEnd(const QString &oper, int result, const QString &echo,
                                     const QString &key)
{
    emit installExecEnd(oper, result, echo, key);
}
