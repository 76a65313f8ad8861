#include "queues/queueworker.h"

#include "engine/privileges.h"
#include "engine/processkiller.h"
#include "engine/rpmlock.h"
#include "engine/scratchfiles.h"
#include "engine/shellfunctions.h"
#include "engine/shelltranscript.h"
#include "queues/taskpackage.h"
#include "records/clientconfig.h"
#include "records/codes.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "sync/reportframe.h"
#include "sync/reportoutbox.h"
#include "sync/reportsender.h"

#include <QDebug>
#include <QFile>
#include <QMutexLocker>
#include <QTextStream>

QueueWorker::QueueWorker(Pause pause, const QString &operationWord)
    : m_pause(pause), m_operationWord(operationWord), m_endValue(ResultNotFinished), m_stopFlag(0)
{
}

QueueWorker::~QueueWorker() = default;

void QueueWorker::insertQueue(const OperInfo &task)
{
    QMutexLocker locker(&m_queueLock);
    m_queue.append(task);
    m_queueChanged.wakeAll();
}

bool QueueWorker::deleteQueue(const QString &key)
{
    QMutexLocker locker(&m_queueLock);
    for (int i = 0; i < m_queue.size(); ++i) {
        if (m_queue.at(i).m_key == key) {
            m_queue.removeAt(i);
            return true;
        }
    }
    if (!m_runningKey.isNull() && m_runningKey == key) {
        m_runningCancelled = true;
        ProcessKiller::runningCancelled(key);
    }
    return false;
}

bool QueueWorker::runningTaskCancelled()
{
    QMutexLocker locker(&m_queueLock);
    return m_runningCancelled;
}

void QueueWorker::stop()
{
    QMutexLocker locker(&m_queueLock);
    m_stopFlag.storeRelease(1);
    m_queueChanged.wakeAll();
}

int QueueWorker::getEndValue() const
{
    return m_endValue.loadAcquire();
}

void QueueWorker::setEndValue(int value)
{
    m_endValue.storeRelease(value);
}

void QueueWorker::endTask(const OperInfo &task, int result)
{
    setEndValue(result);
    emit taskEnded(m_operationWord, result, task.m_echo, task.m_key);
    ReportOutbox outbox;
    const ShellTranscript *transcript = ShellTranscript::current();
    const QString text = transcript ? transcript->text() : QString();
    // The end of the output says why a command failed.
    outbox.recordResult(m_operationWord, task.m_rpmname, result,
                        text.right(ReportFrame::MaxEcho).trimmed());
    outbox.recordInventory();
    ReportSender::reportsAdded();
    emitWorkerEnd(m_operationWord, result, task.m_echo, task.m_key);
}

void QueueWorker::run()
{
    for (;;) {
        setEndValue(ResultNotFinished);
        {
            QMutexLocker locker(&m_queueLock);
            if (m_queue.isEmpty()) {
                if (m_stopFlag.loadAcquire())
                    return;
                // The one-second idle poll; a new task or stop() ends the wait early.
                m_queueChanged.wait(&m_queueLock, 1000);
                continue;
            }
        }

        Privileges::switchToRoot();

        OperInfo task;
        {
            QMutexLocker locker(&m_queueLock);
            if (m_queue.isEmpty()) // cancelled with deleteQueue meanwhile
                continue;
            task = m_queue.takeFirst();
            m_runningKey = task.m_key;
            m_runningCancelled = false;
        }

        bool succeeded = false;
        // What the task's commands print becomes its report's text.
        ShellTranscript transcript;
        if (isSafeTask(task)) {
            succeeded = runTask(task);
        } else {
            qDebug() << "refusing task with unsafe package or key" << task.m_rpmname << task.m_key;
            reportFailure(task);
        }
        {
            QMutexLocker locker(&m_queueLock);
            if (m_runningCancelled)
                ProcessKiller::runningEnded(m_runningKey);
            m_runningKey = QString();
        }
        if (succeeded || m_pause == Pause::AfterEveryTask)
            QThread::sleep(1);
    }
}

bool QueueWorker::isSafeTask(const OperInfo &task) const
{
    // The package string names a directory below pkgpath that is removed recursively as
    // root; the task key comes from the same catalog row and is held to the same rule.
    return Quoting::isSafePathComponent(task.m_rpmname) && Quoting::isSafePathComponent(task.m_key);
}

QString QueueWorker::packagePath() const
{
    return ClientConfig::pkgpath();
}

QString QueueWorker::downloadDirectory(const OperInfo &task) const
{
    return packagePath() + QLatin1Char('/') + task.m_rpmname;
}

QString QueueWorker::downloadCommand(const QString &verb, const QString &directory,
                                     const QString &package)
{
    return QStringLiteral("yum ") + verb + QStringLiteral(" --downloadonly --downloaddir ") +
           Quoting::shell(directory) + QLatin1Char(' ') + Quoting::shell(package);
}

QString QueueWorker::upgradeCommand(const QString &directory)
{
    // The glob stays outside the quotes: every file the download left there.
    return QStringLiteral("rpm -Uvh ") + Quoting::shell(directory) + QStringLiteral("/*");
}

int QueueWorker::runEvaluated(const QString &command)
{
    int result = isExecSuccess(runShell(command));
    if (result == ResultDatabaseRepaired)
        result = isExecSuccess(runShell(command));
    return result;
}

int QueueWorker::downloadStep(const OperInfo &task, bool traceEnd)
{
    qDebug() << "software&&&&&&&&&&&&&&&&" << task.m_rpmname;
    const QString directory = downloadDirectory(task);
    createDirectory(directory);
    const TaskPackage package(task.m_rpmname);
    const int result =
        runEvaluated(downloadCommand(QStringLiteral("install"), directory, package.nameVersion));
    if (result != ResultSuccess)
        removeDirectory(directory);
    if (traceEnd)
        qDebug() << "downloadSoftware end " << task.m_rpmname;
    return result;
}

bool QueueWorker::downloadWithRetry(const OperInfo &task, bool traceEnd)
{
    if (downloadStep(task, traceEnd) == ResultSuccess)
        return true;
    setEndValue(ResultFailure);
    // A download the user cancelled was killed; trying again would fetch it after all.
    if (runningTaskCancelled())
        return false;
    return downloadStep(task, traceEnd) == ResultSuccess;
}

bool QueueWorker::checkInstallation(const QString &text, int upgradeResult,
                                    const LineObserver &lineRead)
{
    return readInstallation(text, upgradeResult, listInstalled(text), lineRead);
}

bool QueueWorker::listInstalled(const QString &text)
{
    const QString findFile = Paths::findRpmFile();
    // What another user left at the name is never read.
    if (!ScratchFiles::createFresh(findFile))
        return false;
    runShell(QStringLiteral("rpm -qa|grep ") + Quoting::shell(text) + QLatin1Char('>') +
             Quoting::shell(findFile));
    return true;
}

bool QueueWorker::readInstallation(const QString &text, int upgradeResult, bool listed,
                                   const LineObserver &lineRead)
{
    QFile file(Paths::findRpmFile());
    if (!listed || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (upgradeResult != ResultFailure)
            return true;
        qDebug() << "system error!";
        return false;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");
    bool found = false;
    while (!found && !in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty())
            continue;
        if (lineRead)
            lineRead(line);
        // Every line would contain an empty text, installed or not.
        found = !text.isEmpty() && line.contains(text);
    }
    file.close();
    if (found) {
        file.remove();
        return true;
    }
    qDebug() << "system error!";
    return false;
}

void QueueWorker::recordInstallation(const OperInfo &task)
{
    const TaskPackage package(task.m_rpmname);
    execText(Paths::localDatabase(),
             "insert into software(name,version,release_ver) values(?,?,?);", package.name,
             package.version, package.release);
    execText(Paths::catalogDatabase(), "update softwares set sign='2' where s_rpm=?;",
             task.m_rpmname);
}

void QueueWorker::lockRpm()
{
    RpmLock::acquire();
}

void QueueWorker::unlockRpm()
{
    RpmLock::release();
}
