#include "resultrecorder.h"

#include "queues/downloadthread.h"
#include "queues/getauththread.h"
#include "queues/installrpmthread.h"
#include "queues/quitinstallthread.h"
#include "queues/updaterpmthread.h"

template <typename Worker, typename Signal>
void ResultRecorder::record(Worker *worker, Signal signal, const char *name)
{
    // The recorder lives in the test's thread, so the results arrive queued, as in the store.
    connect(worker, signal, this,
            [this, name](const QString &oper, int code, const QString &echo, const QString &key) {
                results.append(QStringLiteral("%1 %2 %3 %4 %5")
                                   .arg(QLatin1String(name), oper)
                                   .arg(code)
                                   .arg(echo, key));
            });
}

void ResultRecorder::recordEnded(QueueWorker *worker)
{
    connect(worker, &QueueWorker::taskEnded, this,
            [this](const QString &oper, int code, const QString &echo, const QString &key) {
                ended.append(QStringLiteral("%1 %2 %3 %4").arg(oper).arg(code).arg(echo, key));
            });
}

void ResultRecorder::watch(GetAuthThread *worker)
{
    recordEnded(worker);
    record(worker, &GetAuthThread::uninstallExecEnd, "uninstallExecEnd");
}

void ResultRecorder::watch(InstallRpmThread *worker)
{
    recordEnded(worker);
    record(worker, &InstallRpmThread::installExecEnd, "installExecEnd");
}

void ResultRecorder::watch(QuitInstallThread *worker)
{
    recordEnded(worker);
    record(worker, &QuitInstallThread::downloadExecEnd, "downloadExecEnd");
    record(worker, &QuitInstallThread::quickinstallExecEnd, "quickinstallExecEnd");
}

void ResultRecorder::watch(DownloadThread *worker)
{
    recordEnded(worker);
    record(worker, &DownloadThread::downloadExecEnd, "downloadExecEnd");
}

void ResultRecorder::watch(UpdateRpmThread *worker)
{
    recordEnded(worker);
    record(worker, &UpdateRpmThread::downloadExecEnd, "downloadExecEnd");
    record(worker, &UpdateRpmThread::updateRpmExecEnd, "updateRpmExecEnd");
}
