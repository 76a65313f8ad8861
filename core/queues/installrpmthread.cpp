#include "queues/installrpmthread.h"
#include "records/operationword.h"

#include "engine/shellfunctions.h"
#include "records/codes.h"

static const QString installWord = OperationWord::install();

InstallRpmThread::InstallRpmThread() : QueueWorker(Pause::AfterEveryTask) {}

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
    setEndValue(ResultSuccess);
    emit installExecEnd(installWord, ResultSuccess, task.m_echo, task.m_key);
    return true;
}

void InstallRpmThread::reportFailure(const OperInfo &task)
{
    setEndValue(ResultInstallFailed);
    emit installExecEnd(installWord, ResultInstallFailed, task.m_echo, task.m_key);
}
