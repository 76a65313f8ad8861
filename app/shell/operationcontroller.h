#pragma once

#include "records/operationword.h"
#include "shell/queueworkers.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

class DialogPresenter;
class LoadDialog;
class QTableWidget;
class TaskRequests;
struct OperInfo;

// The traffic between the rows, the five queue workers and the download manager, by task key:
// the pages hand it tasks made from their rows and turn what it reports into their rows.
class OperationController : public QObject
{
    Q_OBJECT

public:
    OperationController(const QueueWorkers &workers, LoadDialog *downloadManager,
                        DialogPresenter &dialogs);

    // The page that answers the requests of a table's rows; null forgets it. A row of a
    // table without one is refused.
    void setRequests(const QTableWidget *table, TaskRequests *requests);
    TaskRequests *requests(const QTableWidget *table) const { return m_requests.value(table); }

    // Queues a task of the catalog table; a new one is registered with the download manager
    // under the row given.
    void submit(Operation operation, const OperInfo &task, const QString &name, const QString &size,
                int row, bool registerDownload);
    void submitUninstall(const OperInfo &task);

    // Failure messages of downloads, installs and upgrades: shown unless the download
    // manager is open or the failure is the end of that task's cancel.
    void reportFailure(const QString &text, const QString &key);

    // What the download manager lists about a task.
    void downloadCompleted(const QString &key);
    void installCompleted(const QString &key, const QString &oper);
    // The manager names a failed task by its package string, or by the key when no row has it.
    void failed(const QString &package, int res);
    void forgetDownload(const QString &key);
    void retarget(const QString &key, int row, const QString &oper);

public slots:
    // A row asks before its operation runs; the page of its table answers, and the answer is
    // the row's to read back.
    bool request(int row, QTableWidget *table, const QString &oper, const QString &rpm,
                 bool mayProceed);
    void taskStarting(const QString &oper);
    // A result of a worker or, for "打开软件", of the row itself.
    void taskEnded(const QString &oper, int res, const QString &third, const QString &key);
    // The download phase of a one-click install or an upgrade has ended.
    void downloadPhaseEnded(const QString &oper, int res, const QString &third, const QString &key);
    // Cancelled from the row.
    void cancel(const QString &key);
    void progress(const QString &key, int percent);

signals:
    // The workers' words end here: the pages hear the operation itself.
    // A task of that operation is about to start.
    void taskStarted(Operation operation);
    void taskFinished(Operation operation, int res, const QString &key);
    void downloadFinished(Operation operation, const QString &key);
    // dequeued: it never started, so no failure follows.
    void taskCancelled(const QString &key, bool dequeued);

private:
    void launch(const QString &commandLine);

    QueueWorkers m_workers;
    LoadDialog *m_downloadManager;
    DialogPresenter &m_dialogs;
    QHash<const QTableWidget *, TaskRequests *> m_requests;
    // Running tasks cancelled by the user: the failure they end with is theirs, not news.
    QSet<QString> m_cancelled;
};
