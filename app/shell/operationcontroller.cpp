#include "shell/operationcontroller.h"

#include "records/operationword.h"
#include "shell/dialogpresenter.h"
#include "tasks/datathread.h"
#include "tasks/loaddialog.h"

#include <QDebug>

namespace
{

const QString OpenApp = OperationWord::openApp();
const QString Install = OperationWord::install();
const QString QuickInstall = OperationWord::quickInstall();
const QString Download = OperationWord::download();
const QString Upgrade = OperationWord::upgrade();
const QString Uninstall = OperationWord::uninstall();

} // namespace

OperationController::OperationController(const QueueWorkers &workers, LoadDialog *downloadManager,
                                         DialogPresenter &dialogs)
    : m_workers(workers), m_downloadManager(downloadManager), m_dialogs(dialogs)
{
}

bool OperationController::request(int row, QTableWidget *, const QString &oper, const QString &rpm,
                                  bool mayProceed)
{
    qDebug() << "*************************isRunningSlot****************  " << row;
    if (oper == QuickInstall || oper == Download || oper == Upgrade || oper == Install)
        return emit catalogTaskRequested(row, oper, mayProceed);
    if (oper == Uninstall)
        return emit uninstallRequested(row, rpm, mayProceed);
    return false;
}

void OperationController::submit(const OperInfo &task, const QString &name, const QString &size,
                                 int row, bool registerDownload)
{
    if (task.m_oper == QuickInstall)
        m_workers.quickInstall->insertQueue(task);
    else if (task.m_oper == Download)
        m_workers.download->insertQueue(task);
    else if (task.m_oper == Upgrade)
        m_workers.upgrade->insertQueue(task);
    else
        m_workers.install->insertQueue(task);
    if (registerDownload)
        m_downloadManager->addDatatotable(row, name, task.m_key, size, task.m_oper, 0);
}

void OperationController::submitUninstall(const OperInfo &task)
{
    m_workers.uninstall->insertQueue(task);
}

void OperationController::taskStarting(const QString &oper)
{
    emit taskStarted(oper);
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
    if (oper == OpenApp) {
        emit taskFinished(oper, res, key);
        launch(third);
        return;
    }
    // Any result of a task ends its cancel.
    if (res == 0)
        m_cancelled.remove(key);
    emit taskFinished(oper, res, key);
}

void OperationController::downloadPhaseEnded(const QString &oper, int res, const QString &,
                                             const QString &key)
{
    qDebug() << "************   MainWindow::downloadEndSlot*****************   flag=" << res
             << "   name=" << key;
    if (res == 0)
        emit downloadFinished(oper, key);
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
