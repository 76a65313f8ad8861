#pragma once

#include "records/operationword.h"
#include "shell/taskrequests.h"

#include <QObject>
#include <QString>

class CatalogPage;
class DialogPresenter;
class OperationController;
class QTableWidget;

// The catalog rows' side of package operations: a row's request becomes a task, a result
// becomes the row's next state and controller; the download manager's cancel and restart find
// their rows here. Upgrade results are the upgrade page's.
class CatalogOperations : public QObject, public TaskRequests
{
    Q_OBJECT

public:
    // Answers the requests of the catalog table's rows from now on.
    CatalogOperations(CatalogPage &catalog, const QTableWidget *table,
                      OperationController &operations, DialogPresenter &dialogs);
    ~CatalogOperations() override;

    // Whether the download manager gets a new entry for a queued task.
    enum class Listing { New, Kept };

    // The row's task queued, or refused (true: the row is told it may not proceed).
    bool request(int row, Operation operation, const QString &rpm, bool mayProceed) override;
    // The same, the download manager's entry as given.
    bool queue(int row, Operation operation, bool mayProceed, Listing listing);
    void taskStarted(Operation operation);
    void taskFinished(Operation operation, int res, const QString &key);
    void downloadFinished(Operation operation, const QString &key);
    void cancelFromManager(int row, const QString &oper, const QString &key);
    void restart(int row, const QString &key, const QString &oper);
    // Uninstalled elsewhere: its catalog rows offer the install again (the upgrade page takes
    // them out of its view).
    void packageUninstalled(const QString &name);

signals:
    // An upgrade refused before it started.
    void upgradeRefused(const QString &rpm);
    // Installed from a catalog row.
    void installed(const QString &name);

private:
    void installResult(const QString &oper, int res, const QString &key, int row);
    void downloadResult(int res, const QString &key, int row);

    CatalogPage &m_catalog;
    const QTableWidget *m_table;
    OperationController &m_operations;
    DialogPresenter &m_dialogs;
};
