#include "shell/catalogoperations.h"

#include "records/operationword.h"
#include "records/operinfo.h"
#include "shell/catalogpage.h"
#include "shell/dialogpresenter.h"
#include "shell/operationcontroller.h"
#include "shell/packagetable.h"
#include "shell/rowfactory.h"
#include "shell/shelltexts.h"
#include "tasks/installitem.h"

#include <QDebug>
#include <QScopeGuard>
#include <QTableWidget>

namespace
{

// The download manager's restart of one task: the request of the row with that key, made
// while the restart runs, queues the task the manager lists already; any other is as usual.
class RestartRequests : public TaskRequests
{
public:
    RestartRequests(CatalogOperations &operations, const CatalogPage &catalog, const QString &key)
        : m_operations(operations), m_catalog(catalog), m_key(key)
    {
    }

    bool request(int row, Operation operation, const QString &, bool mayProceed) override
    {
        const bool restarted = m_catalog.cell(row, PackageTable::ColumnKey) == m_key;
        return m_operations.queue(row, operation, mayProceed,
                                  restarted ? CatalogOperations::Listing::Kept
                                            : CatalogOperations::Listing::New);
    }

private:
    CatalogOperations &m_operations;
    const CatalogPage &m_catalog;
    const QString m_key;
};

} // namespace

CatalogOperations::CatalogOperations(CatalogPage &catalog, const QTableWidget *table,
                                     OperationController &operations, DialogPresenter &dialogs)
    : m_catalog(catalog), m_table(table), m_operations(operations), m_dialogs(dialogs)
{
    m_operations.setRequests(m_table, this);
}

CatalogOperations::~CatalogOperations()
{
    if (m_operations.requests(m_table) == this)
        m_operations.setRequests(m_table, nullptr);
}

bool CatalogOperations::request(int row, Operation operation, const QString &, bool mayProceed)
{
    return queue(row, operation, mayProceed, Listing::New);
}

bool CatalogOperations::queue(int row, Operation operation, bool mayProceed, Listing listing)
{
    switch (operation) {
    case Operation::QuickInstall:
    case Operation::Download:
    case Operation::Upgrade:
    case Operation::Install:
        break;
    case Operation::Uninstall:
    case Operation::OpenApp:
        // A catalog row offers neither as a task.
        return false;
    }
    m_catalog.keepScrollPosition();
    if (row < 0 || row >= m_catalog.rowCount())
        return false;
    const QString oper = OperationWord::of(operation);
    const OperInfo task{oper, m_catalog.cell(row, PackageTable::ColumnType),
                        m_catalog.cell(row, PackageTable::ColumnRpm),
                        m_catalog.cell(row, PackageTable::ColumnKey)};
    const QString name = m_catalog.cell(row, PackageTable::ColumnDisplayName);
    const QString size = m_catalog.cell(row, PackageTable::ColumnSize);
    m_catalog.markBusy(row);

    if (operation == Operation::Upgrade && !mayProceed) {
        emit upgradeRefused(task.m_rpmname);
        m_catalog.markIdle(row);
        m_dialogs.showMessage(name + QStringLiteral("正在运行！"));
        return true;
    }
    m_operations.submit(operation, task, name, size, row, listing == Listing::New);
    return false;
}

void CatalogOperations::taskStarted(Operation operation)
{
    if (operation == Operation::Uninstall)
        return;
    m_catalog.restoreScrollPosition();
}

void CatalogOperations::taskFinished(Operation operation, int res, const QString &key)
{
    m_catalog.keepScrollPosition();
    const int row = m_catalog.rowOfKey(key);
    switch (operation) {
    case Operation::Download:
        downloadResult(res, key, row);
        break;
    case Operation::QuickInstall:
    case Operation::Install:
        installResult(OperationWord::of(operation), res, key, row);
        break;
    case Operation::Upgrade:
    case Operation::Uninstall:
    case Operation::OpenApp:
        // The upgrade and uninstall pages' results; opening changes no catalog row.
        return;
    }
    m_catalog.refreshStaleRow(row);
}

void CatalogOperations::installResult(const QString &oper, int res, const QString &key, int row)
{
    const QString name =
        row >= 0 ? m_catalog.cell(row, PackageTable::ColumnDisplayName) : QString();
    if (res == 0) {
        if (row >= 0) {
            m_catalog.markIdle(row);
            m_catalog.setRowOperation(name, OperationWord::openApp());
            emit installed(name);
        }
        // Installed: the package is no longer a download waiting to be installed.
        m_operations.installCompleted(key, oper);
        return;
    }
    m_operations.reportFailure(QStringLiteral("安装软件失败！"), key);
    if (row >= 0) {
        m_catalog.markIdle(row);
        m_catalog.setRowOperation(name, OperationWord::quickInstall());
    }
    m_operations.failed(m_catalog.failedPackage(row, key), res);
}

void CatalogOperations::downloadResult(int res, const QString &key, int row)
{
    if (row >= 0) {
        m_catalog.markIdle(row);
        m_catalog.setRowOperation(m_catalog.cell(row, PackageTable::ColumnDisplayName),
                                  res == 0 ? OperationWord::install()
                                           : OperationWord::quickInstall());
    }
    if (res == 0) {
        m_operations.downloadCompleted(key);
        return;
    }
    m_operations.reportFailure(QStringLiteral("下载软件失败！"), key);
    m_operations.failed(m_catalog.failedPackage(row, key), res);
}

void CatalogOperations::downloadFinished(Operation operation, const QString &key)
{
    for (int row = 0; row < m_catalog.rowCount(); ++row) {
        const QString rowKey = m_catalog.cell(row, PackageTable::ColumnKey);
        qDebug() << "tableWidget->item(i,8)->text()=" << rowKey;
        if (rowKey != key)
            continue;
        if (InstallItem *item = m_catalog.controllerAt(row))
            item->downLoadEnd(OperationWord::of(operation));
        break;
    }
}

void CatalogOperations::cancelFromManager(int row, const QString &oper, const QString &key)
{
    qDebug() << "###############  row=" << row << "   oper=" << oper << "   name=" << key;
    const std::optional<Operation> operation = OperationWord::parse(oper);
    if (!operation)
        return;
    switch (*operation) {
    case Operation::QuickInstall:
    case Operation::Download:
    case Operation::Upgrade:
        break;
    case Operation::Install:
    case Operation::Uninstall:
    case Operation::OpenApp:
        // Not cancelled from the manager: nothing of theirs is downloading.
        return;
    }
    const bool upgrade = *operation == Operation::Upgrade;
    if (!upgrade)
        qDebug() << m_catalog.rowCount();
    int found = -1;
    for (int r = 0; r < m_catalog.rowCount(); ++r) {
        const QString rowKey = m_catalog.cell(r, PackageTable::ColumnKey);
        if (!upgrade)
            qDebug() << rowKey << "testddd";
        if (rowKey == key) {
            found = r;
            qDebug() << key << "dddd";
            break;
        }
    }
    if (found < 0 && !upgrade)
        found = row;
    if (found < 0 || found >= m_catalog.rowCount())
        return;
    m_catalog.markIdle(found);
    if (InstallItem *item = m_catalog.controllerAt(found))
        item->cancelDownloadSlot();
    m_catalog.setRowOperation(m_catalog.cell(found, PackageTable::ColumnDisplayName),
                              upgrade ? OperationWord::upgrade() : OperationWord::quickInstall());
}

void CatalogOperations::restart(int row, const QString &key, const QString &oper)
{
    // Only for the requests the restart makes now: a row that went meanwhile makes none, and a
    // restart nested in this one's wait gives the table back to this one when it ends.
    TaskRequests *previous = m_operations.requests(m_table);
    RestartRequests restarting(*this, m_catalog, key);
    m_operations.setRequests(m_table, &restarting);
    const auto done = qScopeGuard([&] { m_operations.setRequests(m_table, previous); });
    qDebug() << "row=" << row << "   name=" << key;
    if (row >= 0 && row < m_catalog.rowCount() && m_catalog.hasCell(row, PackageTable::ColumnKey)) {
        qDebug() << "********  oper=" << oper;
        InstallItem *item = m_catalog.controllerAt(row);
        if (item && m_catalog.cell(row, PackageTable::ColumnKey) == key)
            item->execTask(oper);
        return;
    }
    int found = m_catalog.rowOfKey(key);
    if (found < 0)
        found = m_catalog.rowForWaitingKey(key);
    InstallItem *item = m_catalog.controllerAt(found);
    if (!item)
        return;
    if (OperationWord::parse(oper) == Operation::Upgrade) {
        item->execTask(oper);
    } else if (item->getOperSign()) {
        m_operations.retarget(key, found, OperationWord::upgrade());
        item->execTask(OperationWord::upgrade());
    } else {
        item->execTask(oper);
    }
}

void CatalogOperations::packageUninstalled(const QString &name)
{
    bool inCatalog = false;
    for (int r = 0; r < m_catalog.rowCount(); ++r) {
        if (m_catalog.cell(r, PackageTable::ColumnDisplayName) != name)
            continue;
        m_catalog.markIdle(r);
        inCatalog = true;
    }
    if (inCatalog)
        m_catalog.setRowOperation(name, OperationWord::quickInstall());
    // A record still waiting for its catalog row would make that row offer the package as
    // installed.
    m_catalog.refreshWaitingRecord(name);
}
