#include "shell/operationcontroller.h"

#include "records/operationword.h"
#include "records/operinfo.h"
#include "shell/dialogpresenter.h"
#include "shell/taskrequests.h"
#include "tasks/datathread.h"
#include "tasks/loaddialog.h"

#include <QDebug>

OperationController::OperationController(const QueueWorkers &workers, LoadDialog *downloadManager,
                                         DialogPresenter &dialogs)
    : m_workers(workers), m_downloadManager(downloadManager), m_dialogs(dialogs)
{
}

void OperationController::setRequests(const QTableWidget *table, TaskRequests *requests)
{
    if (requests)
        m_requests.insert(table, requests);
    else
        m_requests.remove(table);
}

bool OperationController::request(int row, QTableWidget *table, const QString &oper,
                                  const QString &rpm, bool mayProceed)
{
    qDebug() << "*************************isRunningSlot****************  " << row;
    const std::optional<Operation> operation = OperationWord::parse(oper);
    TaskRequests *requests = m_requests.value(table);
    // Opening an application asks nobody; a word of no operation is nobody's to queue.
    if (!operation || *operation == Operation::OpenApp || !requests)
        return false;
    return requests->request(row, *operation, rpm, mayProceed);
}

void OperationController::submit(Operation operation, const OperInfo &task, const QString &name,
                                 const QString &size, int row, bool registerDownload)
{
    switch (operation) {
    case Operation::QuickInstall:
        m_workers.quickInstall->insertQueue(task);
        break;
    case Operation::Download:
        m_workers.download->insertQueue(task);
        break;
    case Operation::Upgrade:
        m_workers.upgrade->insertQueue(task);
        break;
    case Operation::Install:
        m_workers.install->insertQueue(task);
        break;
    case Operation::Uninstall:
    case Operation::OpenApp:
        // Not a catalog task: the uninstall has its own call, opening runs no queue.
        qWarning() << "not a catalog task:" << task.m_oper;
        return;
    }
    if (registerDownload)
        m_downloadManager->addDatatotable(row, name, task.m_key, size, task.m_oper, 0);
}

void OperationController::submitUninstall(const OperInfo &task)
{
    m_workers.uninstall->insertQueue(task);
}

void OperationController::taskStarting(const QString &oper)
{
    if (const std::optional<Operation> operation = OperationWord::parse(oper))
        emit taskStarted(*operation);
}

void OperationController::launch(const QString &commandLine)
{
    if (commandLine.isEmpty() || commandLine == QLatin1String("NULL")) {
        m_dialogs.showMessage(QStringLiteral("此应用程序不能打开！"));
        return;
    }
    // Through the shell as written, run as the login user, never as root.
    auto *launcher = new DataThread(commandLine);
    connect(launcher, &QThread::finished, launcher, &QObject::deleteLater);
    launcher->start();
}

void OperationController::taskEnded(const QString &oper, int res, const QString &third,
                                    const QString &key)
{
    qDebug() << oper << res << third << "******************" << key;
    const std::optional<Operation> operation = OperationWord::parse(oper);
    if (!operation) {
        qWarning() << "result of no operation:" << oper;
        return;
    }
    if (*operation == Operation::OpenApp) {
        emit taskFinished(*operation, res, key);
        launch(third);
        return;
    }
    // Any result of a task ends its cancel.
    if (res == 0)
        m_cancelled.remove(key);
    emit taskFinished(*operation, res, key);
}

void OperationController::downloadPhaseEnded(const QString &oper, int res, const QString &,
                                             const QString &key)
{
    qDebug() << "************   MainWindow::downloadEndSlot*****************   flag=" << res
             << "   name=" << key;
    const std::optional<Operation> operation = OperationWord::parse(oper);
    if (res == 0 && operation)
        emit downloadFinished(*operation, key);
}

void OperationController::reportFailure(const QString &text, const QString &key)
{
    const bool cancelled = m_cancelled.remove(key);
    if (m_downloadManager->isHidden() && !cancelled)
        m_dialogs.showMessage(text);
}

void OperationController::cancel(const QString &key)
{
    m_downloadManager->delDatafromtable(key);
    // Each call runs: a key sits in one queue at most, and a running task must learn it.
    const bool dequeued = m_workers.quickInstall->deleteQueue(key) |
                          m_workers.download->deleteQueue(key) |
                          m_workers.upgrade->deleteQueue(key);
    // A running download is killed; its failure follows and is not reported.
    if (!dequeued)
        m_cancelled.insert(key);
    emit taskCancelled(key, dequeued);
}

void OperationController::progress(const QString &key, int percent)
{
    m_downloadManager->progressSlot(key, percent);
}

void OperationController::downloadCompleted(const QString &key)
{
    m_downloadManager->progressSlot(key, 100);
}

void OperationController::installCompleted(const QString &key, const QString &oper)
{
    m_downloadManager->installSuccess(key, oper);
}

void OperationController::failed(const QString &package, int res)
{
    m_downloadManager->downLoadFail(package, res);
}

void OperationController::forgetDownload(const QString &key)
{
    m_downloadManager->delDatafromtable(key);
}

void OperationController::retarget(const QString &key, int row, const QString &oper)
{
    m_downloadManager->modifyparament(key, row, oper);
}
