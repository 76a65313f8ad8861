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

const QString OpenApp = OperationWord::openApp();
const QString Install = OperationWord::install();
const QString QuickInstall = OperationWord::quickInstall();
const QString Download = OperationWord::download();
const QString Upgrade = OperationWord::upgrade();
const QString Uninstall = OperationWord::uninstall();

} // namespace

CatalogOperations::CatalogOperations(CatalogPage &catalog, OperationController &operations,
                                     DialogPresenter &dialogs)
    : m_catalog(catalog), m_operations(operations), m_dialogs(dialogs)
{
}

bool CatalogOperations::request(int row, const QString &oper, bool mayProceed)
{
    m_catalog.lazyTable().keepScrollPosition();
    QTableWidget *catalog = m_catalog.table();
    if (row < 0 || row >= catalog->rowCount())
        return false;
    const OperInfo task{oper, PackageTable::text(catalog, row, PackageTable::ColumnType),
                        PackageTable::text(catalog, row, PackageTable::ColumnRpm),
                        PackageTable::text(catalog, row, PackageTable::ColumnKey)};
    const QString name = PackageTable::text(catalog, row, PackageTable::ColumnDisplayName);
    const QString size = PackageTable::text(catalog, row, PackageTable::ColumnSize);
    PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::busy());

    if (oper == Upgrade && !mayProceed) {
        emit upgradeRefused(task.m_rpmname);
        m_catalog.markIdle(row);
        m_dialogs.showMessage(name + QStringLiteral("正在运行！"));
        return true;
    }
    // The task the download manager restarts is listed there already; any other is not.
    m_operations.submit(task, name, size, row, task.m_key != m_restarting);
    return false;
}

void CatalogOperations::taskStarted(const QString &oper)
{
    if (oper == Uninstall)
        return;
    LazyTable &catalog = m_catalog.lazyTable();
    qDebug() << "m_allPackage_valuem_allPackage_value = " << catalog.scrollValue();
    catalog.restoreScrollPosition();
}

void CatalogOperations::taskFinished(const QString &oper, int res, const QString &key)
{
    m_catalog.lazyTable().keepScrollPosition();
    if (oper != QuickInstall && oper != Install && oper != Download)
        return;
    const int row = m_catalog.rowOfKey(key);
    if (oper == Download)
        downloadResult(res, key, row);
    else
        installResult(oper, res, key, row);
    m_catalog.refreshStaleRow(row);
}

void CatalogOperations::installResult(const QString &oper, int res, const QString &key, int row)
{
    QTableWidget *catalog = m_catalog.table();
    const QString name =
        row >= 0 ? PackageTable::text(catalog, row, PackageTable::ColumnDisplayName) : QString();
    if (res == 0) {
        if (row >= 0) {
            m_catalog.markIdle(row);
            m_catalog.setRowOperation(catalog, name, OpenApp);
            emit installed(name);
        }
        // Installed: the package is no longer a download waiting to be installed.
        m_operations.installCompleted(key, oper);
        return;
    }
    m_operations.reportFailure(QStringLiteral("安装软件失败！"), key);
    if (row >= 0) {
        m_catalog.markIdle(row);
        m_catalog.setRowOperation(catalog, name, QuickInstall);
    }
    m_operations.failed(m_catalog.failedPackage(row, key), res);
}

void CatalogOperations::downloadResult(int res, const QString &key, int row)
{
    QTableWidget *catalog = m_catalog.table();
    if (row >= 0) {
        m_catalog.markIdle(row);
        m_catalog.setRowOperation(catalog,
                                  PackageTable::text(catalog, row, PackageTable::ColumnDisplayName),
                                  res == 0 ? Install : QuickInstall);
    }
    if (res == 0) {
        m_operations.downloadCompleted(key);
        return;
    }
    m_operations.reportFailure(QStringLiteral("下载软件失败！"), key);
    m_operations.failed(m_catalog.failedPackage(row, key), res);
}

void CatalogOperations::downloadFinished(const QString &oper, const QString &key)
{
    QTableWidget *table = m_catalog.table();
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString rowKey = PackageTable::text(table, row, PackageTable::ColumnKey);
        qDebug() << "tableWidget->item(i,8)->text()=" << rowKey;
        if (rowKey != key)
            continue;
        if (InstallItem *item = RowFactory::controllerAt(table, row))
            item->downLoadEnd(oper);
        break;
    }
}

void CatalogOperations::cancelFromManager(int row, const QString &oper, const QString &key)
{
    qDebug() << "###############  row=" << row << "   oper=" << oper << "   name=" << key;
    if (oper != QuickInstall && oper != Download && oper != Upgrade)
        return;
    QTableWidget *catalog = m_catalog.table();
    if (oper != Upgrade)
        qDebug() << catalog->rowCount();
    int found = -1;
    for (int r = 0; r < catalog->rowCount(); ++r) {
        const QString rowKey = PackageTable::text(catalog, r, PackageTable::ColumnKey);
        if (oper != Upgrade)
            qDebug() << rowKey << "testddd";
        if (rowKey == key) {
            found = r;
            qDebug() << key << "dddd";
            break;
        }
    }
    if (found < 0 && oper != Upgrade)
        found = row;
    if (found < 0 || found >= catalog->rowCount())
        return;
    m_catalog.markIdle(found);
    if (InstallItem *item = RowFactory::controllerAt(catalog, found))
        item->cancelDownloadSlot();
    m_catalog.setRowOperation(catalog,
                              PackageTable::text(catalog, found, PackageTable::ColumnDisplayName),
                              oper == Upgrade ? Upgrade : QuickInstall);
}

void CatalogOperations::restart(int row, const QString &key, const QString &oper)
{
    // Only for the request the restart makes now: a row that went meanwhile makes none.
    m_restarting = key;
    const auto done = qScopeGuard([this] { m_restarting.clear(); });
    qDebug() << "row=" << row << "   name=" << key;
    QTableWidget *catalog = m_catalog.table();
    if (row >= 0 && row < catalog->rowCount() &&
        PackageTable::hasItem(catalog, row, PackageTable::ColumnKey)) {
        qDebug() << "********  oper=" << oper;
        InstallItem *item = RowFactory::controllerAt(catalog, row);
        if (item && PackageTable::text(catalog, row, PackageTable::ColumnKey) == key)
            item->execTask(oper);
        return;
    }
    int found = m_catalog.rowOfKey(key);
    if (found < 0)
        found = m_catalog.rowForWaitingKey(key);
    InstallItem *item = RowFactory::controllerAt(catalog, found);
    if (!item)
        return;
    if (oper == Upgrade) {
        item->execTask(oper);
    } else if (item->getOperSign()) {
        m_operations.retarget(key, found, Upgrade);
        item->execTask(Upgrade);
    } else {
        item->execTask(oper);
    }
}

void CatalogOperations::packageUninstalled(const QString &name)
{
    QTableWidget *catalog = m_catalog.table();
    bool inCatalog = false;
    for (int r = 0; r < catalog->rowCount(); ++r) {
        if (PackageTable::text(catalog, r, PackageTable::ColumnDisplayName) != name)
            continue;
        m_catalog.markIdle(r);
        m_catalog.hideUpgradedRow(r);
        inCatalog = true;
    }
    if (inCatalog)
        m_catalog.setRowOperation(catalog, name, QuickInstall);
    // A record still waiting for its catalog row would make that row offer the package as
    // installed.
    m_catalog.refreshWaitingRecord(name);
}
