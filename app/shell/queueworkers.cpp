#include "shell/queueworkers.h"

namespace
{

template <typename Worker> Worker *startedWorker(Worker *worker)
{
    worker->start();
    return worker;
}

} // namespace

QueueWorkers QueueWorkers::started()
{
    QueueWorkers workers;
    workers.uninstall = startedWorker(new GetAuthThread);
    workers.quickInstall = startedWorker(new QuitInstallThread);
    workers.download = startedWorker(new DownloadThread);
    workers.upgrade = startedWorker(new UpdateRpmThread);
    workers.install = startedWorker(new InstallRpmThread);
    return workers;
}
