#pragma once

#include <QSet>
#include <QString>

#include "shell/queueworkers.h"

#include <initializer_list>

class LoadDialog;
class MainWindow;
class QTableWidget;

// Requests from the rows and the download manager to the five queue workers: accepts or
// refuses an operation, queues it and registers downloads; cancels and restarts downloads.
class OperationRouter
{
public:
    OperationRouter(MainWindow *window, const QueueWorkers &workers, LoadDialog *downloadManager);

    // True when a row of the tables shows an operation at work; rows marked busy that show
    // none are marked idle again.
    bool operationShown(std::initializer_list<QTableWidget *> tables) const;

    // A row asks before its operation runs; the answer is the row's to read back.
    bool request(int row, const QString &oper, const QString &rpm, bool mayProceed);
    void restoreScroll(const QString &oper);
    void cancelFromRow(const QString &key);
    void cancelFromManager(int row, const QString &oper, const QString &key);
    void restart(int row, const QString &key, const QString &oper);

    // Failure messages of downloads, installs and upgrades: shown unless the download
    // manager is open or the failure is the end of that task's cancel.
    void reportFailure(const QString &text, const QString &key);
    // Any result of a task ends its cancel.
    void resultArrived(const QString &key) { m_cancelled.remove(key); }

private:
    bool requestCatalogOperation(int row, const QString &oper, bool mayProceed);
    bool requestUninstall(int row, const QString &rpm, bool mayProceed);

    MainWindow *m_window;
    QueueWorkers m_workers;
    LoadDialog *m_downloadManager;
    // Running tasks cancelled by the user: the failure they end with is theirs, not news.
    QSet<QString> m_cancelled;
    bool m_reDownloading = false;
};
