#pragma once

#include "records/operinfo.h"
#include "storage/database.h"

#include <QAtomicInt>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <functional>

// What the five queue workers have in common: the task queue with its own lock, the worker
// loop, the end value and stop flag, and the shell steps several of them run.
class QueueWorker : public QThread
{
    Q_OBJECT

public:
    ~QueueWorker() override;

    // Appends a task; callable from any thread.
    virtual void insertQueue(const OperInfo &task);
    // Makes run() return the next time it finds the queue empty.
    void stop();
    // -3 while no result is pending.
    int getEndValue() const;

signals:
    // The end of every task, whatever the worker: operation word, result code, echo text and
    // task key. Each worker's own end signal follows it with the same values.
    void taskEnded(const QString &oper, int result, const QString &echo, const QString &key);

protected:
    enum class Pause {
        AfterSuccess, // a failed task is followed by the next one at once
        AfterEveryTask,
    };
    QueueWorker(Pause pause, const QString &operationWord);

    void run() override;

    // The job of one task; true when it succeeded.
    virtual bool runTask(const OperInfo &task) = 0;
    // Sets the end value and emits the final signal of a task that failed before or at its
    // first stage (also used for tasks refused for unsafe values).
    virtual void reportFailure(const OperInfo &task) = 0;
    // Emits the worker's own end signal; only endTask calls it.
    virtual void emitWorkerEnd(const QString &oper, int result, const QString &echo,
                               const QString &key) = 0;
    // The configured package directory; read anew for every task unless a worker caches it.
    virtual QString packagePath() const;

    // Removes the first queued task with this task key and returns true; the workers that
    // offer it publish it. With no queued match, a running task of that key is marked
    // cancelled: its download, which the caller kills, is then not tried again, and its
    // failure is still reported.
    bool deleteQueue(const QString &key);
    bool runningTaskCancelled();
    void setEndValue(int value);
    // The one way a task ends: the end value, taskEnded, then the worker's own signal.
    void endTask(const OperInfo &task, int result);
    const QString &operationWord() const { return m_operationWord; }

    // pkgpath + "/" + m_rpmname, the task's download directory.
    QString downloadDirectory(const OperInfo &task) const;
    // yum with verb (install or upgrade) fetching package into directory, installing nothing.
    static QString downloadCommand(const QString &verb, const QString &directory,
                                   const QString &package);
    static QString upgradeCommand(const QString &directory);

    // Runs a command and decodes its status; a tool that exited with 1 has had the RPM
    // database rebuilt, so the command runs once more on the repaired database.
    static int runEvaluated(const QString &command);

    // Creates the download directory and downloads name-version into it; the directory is
    // removed again when that fails. Returns the evaluated result.
    int downloadStep(const OperInfo &task, bool traceEnd);
    // The download step, repeated once after a failure (end value -1 in between).
    bool downloadWithRetry(const OperInfo &task, bool traceEnd);

    // After rpm -Uvh, with the rpm lock held: lists the installed packages matching text into
    // the find file and looks for a line that contains it. Every non-empty line read is shown
    // to lineRead first.
    using LineObserver = std::function<void(const QString &line)>;
    static bool checkInstallation(const QString &text, int upgradeResult,
                                  const LineObserver &lineRead = LineObserver());
    // The two halves of checkInstallation, for a worker that logs between them. listInstalled
    // is false when the find file could not be made afresh (then nothing is read from it).
    static bool listInstalled(const QString &text);
    static bool readInstallation(const QString &text, int upgradeResult, bool listed,
                                 const LineObserver &lineRead = LineObserver());

    // The installed-package row and the catalog state of a fresh installation.
    static void recordInstallation(const OperInfo &task);

    template <typename... Texts>
    static int execText(const QString &database, const char *sql, const Texts &...values)
    {
        return exec_sql(database.toUtf8().constData(), sql, values.toUtf8().constData()...);
    }

    // Serialises the rpm phases of the workers (and every database repair) process-wide.
    static void lockRpm();
    static void unlockRpm();

private:
    bool isSafeTask(const OperInfo &task) const;

    const Pause m_pause;
    const QString m_operationWord;
    QMutex m_queueLock;
    QWaitCondition m_queueChanged;
    QList<OperInfo> m_queue;
    QString m_runningKey;            // guarded by m_queueLock
    bool m_runningCancelled = false; // guarded by m_queueLock
    QAtomicInt m_endValue;
    QAtomicInt m_stopFlag;
};
