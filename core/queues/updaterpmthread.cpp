#include "queues/updaterpmthread.h"

#include "engine/shellfunctions.h"
#include "queues/taskpackage.h"
#include "records/clientconfig.h"
#include "records/codes.h"
#include "records/operationword.h"
#include "records/paths.h"

#include <QDebug>

#include <syslog.h>

UpdateRpmThread::UpdateRpmThread() : QueueWorker(Pause::AfterSuccess, OperationWord::upgrade()) {}

void UpdateRpmThread::run()
{
    m_pkgpath = ClientConfig::pkgpath();
    QueueWorker::run();
    m_pkgpath.clear();
}

QString UpdateRpmThread::packagePath() const
{
    return m_pkgpath;
}

bool UpdateRpmThread::download(const QString &directory, const QString &rpmname)
{
    // The whole package string, as the operation thread's upgrade asks for it: dnf's install
    // of a bare name leaves an installed package alone however old it is, and name-version
    // may fetch another release than the one recorded afterwards. "install" because the
    // cancel path looks for "yum install --downloadonly".
    const QString command = downloadCommand(QStringLiteral("install"), directory, rpmname);
    if (runEvaluated(command) == ResultSuccess)
        return true;
    // A tool that failed again on the rebuilt database has downloaded nothing either, so
    // every failure gets the one further plain attempt.
    setEndValue(ResultFailure);
    if (runningTaskCancelled() || runShell(command) != 0)
        return false;
    setEndValue(ResultSuccess);
    return true;
}

bool UpdateRpmThread::runTask(const OperInfo &task)
{
    const QString directory = downloadDirectory(task);
    const TaskPackage package(task.m_rpmname);
    removeDirectory(directory);
    createDirectory(directory);
    if (!download(directory, task.m_rpmname)) {
        logDownloadFailure(task);
        removeDirectory(directory);
        endTask(task, ResultFailure);
        return false;
    }
    emit downloadExecEnd(operationWord(), ResultSuccess, task.m_echo, task.m_key);

    lockRpm();
    const int result = runEvaluated(upgradeCommand(directory));
    const bool listed = listInstalled(task.m_rpmname);
    qDebug() << "**********************  software.m_rpmname=" << task.m_rpmname;
    const bool upgraded = readInstallation(task.m_rpmname, result, listed);
    unlockRpm();

    // A failed upgrade keeps nothing: the next attempt downloads afresh.
    removeDirectory(directory);
    if (!upgraded) {
        endTask(task, ResultInstallFailed);
        return false;
    }
    execText(Paths::localDatabase(), "update software set version=?,release_ver=? where name=?;",
             package.version, package.release, package.name);
    execText(Paths::catalogDatabase(), "update softwares set sign='2' where s_rpm=?;",
             task.m_rpmname);
    endTask(task, ResultSuccess);
    return true;
}

void UpdateRpmThread::logDownloadFailure(const OperInfo &task)
{
    syslog(LOG_ERR, "***************update software  download %s is fail\n",
           task.m_key.toUtf8().constData());
}

void UpdateRpmThread::reportFailure(const OperInfo &task)
{
    logDownloadFailure(task);
    endTask(task, ResultFailure);
}

void UpdateRpmThread::emitWorkerEnd(const QString &oper, int result, const QString &echo,
                                    const QString &key)
{
    emit updateRpmExecEnd(oper, result, echo, key);
}
