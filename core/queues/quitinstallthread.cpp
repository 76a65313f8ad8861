#include "queues/quitinstallthread.h"

#include "queues/taskpackage.h"
#include "records/codes.h"
#include "records/operationword.h"

#include <QDebug>

#include <syslog.h>

QuitInstallThread::QuitInstallThread()
    : QueueWorker(Pause::AfterSuccess, OperationWord::quickInstall())
{
}

// The digit that follows the name in a listed package string, 0 when there is none.
static int digitAfterName(const QString &line, const QString &name)
{
    if (name.size() >= line.size())
        return 0;
    const ushort c = line.at(name.size()).unicode();
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

bool QuitInstallThread::runTask(const OperInfo &task)
{
    if (!downloadWithRetry(task, true)) {
        reportFailure(task);
        return false;
    }
    // The download phase ended; the installation follows.
    setEndValue(ResultSuccess);
    emit downloadExecEnd(operationWord(), ResultSuccess, task.m_echo, task.m_key);

    const TaskPackage package(task.m_rpmname);
    const QByteArray rpmname = task.m_rpmname.toUtf8();
    const QByteArray name = package.name.toUtf8();
    lockRpm();
    const int result = runEvaluated(upgradeCommand(downloadDirectory(task)));
    qDebug() << "findrpm=" << task.m_rpmname;
    const bool installed = checkInstallation(package.name, result, [&](const QString &line) {
        const int num = digitAfterName(line, package.name);
        qDebug() << "line=" << line << "      software=" << task.m_rpmname << " num=" << num;
        syslog(LOG_ERR, "install line=%s,   software=%s,   name=%s,   num=%d\n",
               line.toUtf8().constData(), rpmname.constData(), name.constData(), num);
    });
    unlockRpm();

    if (!installed) {
        // The downloaded files stay for an install from the download manager.
        syslog(LOG_ERR, "*************** quick install %s is fail\n",
               task.m_key.toUtf8().constData());
        endTask(task, ResultInstallFailed);
        return false;
    }
    recordInstallation(task);
    endTask(task, ResultSuccess);
    return true;
}

void QuitInstallThread::reportFailure(const OperInfo &task)
{
    syslog(LOG_ERR, "*************** quick install download %s is fail\n",
           task.m_key.toUtf8().constData());
    endTask(task, ResultFailure);
}

void QuitInstallThread::emitWorkerEnd(const QString &oper, int result, const QString &echo,
                                      const QString &key)
{
    emit quickinstallExecEnd(oper, result, echo, key);
}
