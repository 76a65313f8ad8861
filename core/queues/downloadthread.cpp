#include "queues/downloadthread.h"

#include "records/codes.h"
#include "records/operationword.h"

#include <syslog.h>

DownloadThread::DownloadThread() : QueueWorker(Pause::AfterSuccess, OperationWord::download()) {}

bool DownloadThread::runTask(const OperInfo &task)
{
    if (!downloadWithRetry(task, false)) {
        reportFailure(task);
        return false;
    }
    endTask(task, ResultSuccess);
    return true;
}

void DownloadThread::reportFailure(const OperInfo &task)
{
    syslog(LOG_ERR, "***************  download %s is fail\n", task.m_key.toUtf8().constData());
    endTask(task, ResultFailure);
}

void DownloadThread::emitWorkerEnd(const QString &oper, int result, const QString &echo,
                                   const QString &key)
{
    emit downloadExecEnd(oper, result, echo, key);
}
