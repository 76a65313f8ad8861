#include "queues/getauththread.h"

#include "engine/scratchfiles.h"
#include "engine/shellfunctions.h"
#include "queues/taskpackage.h"
#include "records/codes.h"
#include "records/operationword.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "storage/queryresult.h"

#include <QDebug>
#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <syslog.h>

GetAuthThread::GetAuthThread() : QueueWorker(Pause::AfterEveryTask, OperationWord::uninstall()) {}

void GetAuthThread::insertQueue(const OperInfo &task)
{
    qDebug() << "GetAuthThread::insertQueue ************* " << task.m_rpmname;
    QueueWorker::insertQueue(task);
}

QString GetAuthThread::removeCommand(const OperInfo &task)
{
    QString command = QStringLiteral("rpm -e ");
    // The catalog has no column s_rpmname, so this finds nothing and only the package itself
    // is removed; listed dependencies are not erased with --nodeps behind the user's back.
    const QueryResult deps(Paths::catalogDatabase(),
                           QStringLiteral("select s_rpmdeps from softwares where s_rpmname=?;"),
                           {task.m_rpmname});
    if (deps.rows() > 0) {
        for (const QString &part : deps.text(0, 0).split(QLatin1Char(' '))) {
            // Nothing that rpm would read as an option.
            if (Quoting::isSafePathComponent(part))
                command += Quoting::shell(part) + QLatin1Char(' ');
        }
    }
    return command;
}

bool GetAuthThread::isStillListed(const QString &rpmname)
{
    const QString existFile = Paths::existRpmFile();
    // Without a file of its own the check cannot run: rpm -e failed, so the package counts as
    // still there rather than as removed.
    if (!ScratchFiles::createFresh(existFile))
        return true;
    runShell(QStringLiteral("rpm -qa|grep ") + Quoting::shell(rpmname) + QStringLiteral(" > ") +
             Quoting::shell(existFile));
    QFile file(existFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    while (!in.atEnd()) {
        if (!in.readLine().isEmpty())
            return true;
    }
    return false;
}

bool GetAuthThread::runTask(const OperInfo &task)
{
    qDebug() << "************* thread remove " << task.m_rpmname;
    const TaskPackage package(task.m_rpmname);
    QString command = removeCommand(task);

    lockRpm();
    command += Quoting::shell(package.name) + QStringLiteral(" --nodeps");
    bool removed = runEvaluated(command) == ResultSuccess;
    if (!removed) {
        setEndValue(ResultFailure);
        removed = runShell(command) == 0;
    }
    // rpm may report a failure after it has removed the package.
    if (!removed)
        removed = !isStillListed(task.m_rpmname);
    unlockRpm();

    if (!removed) {
        reportFailure(task);
        return false;
    }
    execText(Paths::localDatabase(), "delete from software where name=?;", package.name);
    execText(Paths::catalogDatabase(), "update softwares set sign='0' where s_rpm=?;",
             task.m_rpmname);
    endTask(task, ResultSuccess);
    return true;
}

void GetAuthThread::reportFailure(const OperInfo &task)
{
    endTask(task, ResultFailure);
    syslog(LOG_ERR, "*************** uninstall  %s is fail\n", task.m_key.toUtf8().constData());
}

void GetAuthThread::emitWorkerEnd(const QString &oper, int result, const QString &echo,
                                  const QString &key)
{
    emit uninstallExecEnd(oper, result, echo, key);
}
