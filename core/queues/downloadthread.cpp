#include "queues/downloadthread.h"
#include "records/operationword.h"

#include "records/codes.h"

#include <syslog.h>

static const QString downloadWord = OperationWord::download();

DownloadThread::DownloadThread() : QueueWorker(Pause::AfterSuccess) {}

bool DownloadThread::runTask(const OperInfo &task)
{
    if (!downloadWithRetry(task, false)) {
        reportFailure(task);
        return false;
    }
    setEndValue(ResultSuccess);
    emit downloadExecEnd(downloadWord, ResultSuccess, task.m_echo, task.m_key);
    return true;
}

void DownloadThread::reportFailure(const OperInfo &task)
{
    setEndValue(ResultFailure);
    syslog(LOG_ERR, "***************  download %s is fail\n", task.m_key.toUtf8().constData());
    emit downloadExecEnd(downloadWord, ResultFailure, task.m_echo, task.m_key);
}
