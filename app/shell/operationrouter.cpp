#include "shell/operationrouter.h"

#include "records/operationword.h"
#include "shell/catalogpage.h"
#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "shell/shelltexts.h"
#include "shell/uninstallpage.h"
#include "shell/upgradepage.h"
#include "tasks/installitem.h"
#include "tasks/loaddialog.h"

#include <QDebug>
#include <QTableWidget>

namespace
{

const QString Install = OperationWord::install();
const QString QuickInstall = OperationWord::quickInstall();
const QString Download = OperationWord::download();
const QString Upgrade = OperationWord::upgrade();
const QString Uninstall = OperationWord::uninstall();

} // namespace

OperationRouter::OperationRouter(MainWindow *window, const QueueWorkers &workers,
                                 LoadDialog *downloadManager)
    : m_window(window), m_workers(workers), m_downloadManager(downloadManager)
{
}

bool OperationRouter::operationShown(std::initializer_list<QTableWidget *> tables) const
{
    for (QTableWidget *table : tables) {
        for (int row = 0; row < table->rowCount(); ++row) {
            if (PackageTable::text(table, row, PackageTable::ColumnState) != ShellTexts::busy())
                continue;
            InstallItem *item = m_window->controllerAt(table, row);
            if (item && item->isBusy() && item->isShowingWork())
                return true;
            PackageTable::setText(table, row, PackageTable::ColumnState, ShellTexts::idle());
        }
    }
    return false;
}

bool OperationRouter::request(int row, const QString &oper, const QString &rpm, bool mayProceed)
{
    qDebug() << "*************************isRunningSlot****************  " << row;
    if (oper == QuickInstall || oper == Download || oper == Upgrade || oper == Install)
        return requestCatalogOperation(row, oper, mayProceed);
    if (oper == Uninstall)
        return requestUninstall(row, rpm, mayProceed);
    return false;
}

bool OperationRouter::requestCatalogOperation(int row, const QString &oper, bool mayProceed)
{
    CatalogPage &catalogPage = m_window->catalogPage();
    catalogPage.lazyTable().keepScrollPosition();
    QTableWidget *catalog = catalogPage.table();
    if (row < 0 || row >= catalog->rowCount()) {
        m_reDownloading = false;
        return false;
    }
    const OperInfo task{oper, PackageTable::text(catalog, row, PackageTable::ColumnType),
                        PackageTable::text(catalog, row, PackageTable::ColumnRpm),
                        PackageTable::text(catalog, row, PackageTable::ColumnKey)};
    const QString name = PackageTable::text(catalog, row, PackageTable::ColumnDisplayName);
    const QString size = PackageTable::text(catalog, row, PackageTable::ColumnSize);
    PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::busy());

    if (oper == Upgrade && !mayProceed) {
        m_reDownloading = false;
        m_window->upgradePage().forgetPending(task.m_rpmname);
        PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::idle());
        m_window->showMessage(name + QStringLiteral("正在运行！"));
        return true;
    }
    if (oper == QuickInstall)
        m_workers.quickInstall->insertQueue(task);
    else if (oper == Download)
        m_workers.download->insertQueue(task);
    else if (oper == Upgrade)
        m_workers.upgrade->insertQueue(task);
    else
        m_workers.install->insertQueue(task);
    if (!m_reDownloading)
        m_downloadManager->addDatatotable(row, name, task.m_key, size, oper, 0);
    m_reDownloading = false;
    return false;
}

bool OperationRouter::requestUninstall(int row, const QString &rpm, bool mayProceed)
{
    UninstallPage &page = m_window->uninstallPage();
    page.lazyTable().keepScrollPosition();
    const int target = page.acceptRequest(row, rpm);
    if (target < 0)
        return false;
    QTableWidget *uninstall = page.table();
    const OperInfo task{Uninstall, PackageTable::text(uninstall, target, PackageTable::ColumnType),
                        PackageTable::text(uninstall, target, PackageTable::ColumnRpm),
                        PackageTable::text(uninstall, target, PackageTable::ColumnKey)};
    const QString name = PackageTable::text(uninstall, target, PackageTable::ColumnDisplayName);

    if (!mayProceed) {
        // Before the message: rows may be removed while it is open.
        page.dropFromBatch(task.m_rpmname);
        PackageTable::setText(uninstall, target, PackageTable::ColumnState, ShellTexts::idle());
        m_window->showMessage(name + QStringLiteral("正在运行！"), true);
        return false;
    }
    PackageTable::setText(uninstall, target, PackageTable::ColumnState, ShellTexts::busy());
    m_workers.uninstall->insertQueue(task);
    return true;
}

void OperationRouter::restoreScroll(const QString &oper)
{
    if (oper == Uninstall) {
        m_window->uninstallPage().lazyTable().restoreScrollPosition();
        return;
    }
    LazyTable &catalog = m_window->catalogPage().lazyTable();
    qDebug() << "m_allPackage_valuem_allPackage_value = " << catalog.scrollValue();
    catalog.restoreScrollPosition();
}

void OperationRouter::reportFailure(const QString &text, const QString &key)
{
    const bool cancelled = m_cancelled.remove(key);
    if (m_downloadManager->isHidden() && !cancelled)
        m_window->showMessage(text);
}

void OperationRouter::cancelFromRow(const QString &key)
{
    m_downloadManager->delDatafromtable(key);
    // Each call runs: a key sits in one queue at most, and a running task must learn it.
    const bool dequeued = m_workers.quickInstall->deleteQueue(key) |
                          m_workers.download->deleteQueue(key) |
                          m_workers.upgrade->deleteQueue(key);
    QTableWidget *catalog = m_window->catalogPage().table();
    const int row = PackageTable::findRow(catalog, PackageTable::ColumnKey, key);
    if (dequeued) {
        // It never started: no failure follows to end the cancel, so it ends here.
        if (row >= 0) {
            m_window->upgradePage().dropFromBatch(
                PackageTable::text(catalog, row, PackageTable::ColumnRpm));
            PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::idle());
        }
        return;
    }
    // The running download is killed; its failure follows and is not reported.
    m_cancelled.insert(key);
    if (m_window->currentPage() != MainWindow::PageUpgrade || row < 0)
        return;
    m_window->upgradePage().dropFromBatch(
        PackageTable::text(catalog, row, PackageTable::ColumnRpm));
    qDebug() << key << "dddd";
    PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::idle());
}

void OperationRouter::cancelFromManager(int row, const QString &oper, const QString &key)
{
    qDebug() << "###############  row=" << row << "   oper=" << oper << "   name=" << key;
    if (oper != QuickInstall && oper != Download && oper != Upgrade)
        return;
    QTableWidget *catalog = m_window->catalogPage().table();
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
    PackageTable::setText(catalog, found, PackageTable::ColumnState, ShellTexts::idle());
    if (InstallItem *item = m_window->controllerAt(catalog, found))
        item->cancelDownloadSlot();
    m_window->insertAllandTypeConent(
        PackageTable::text(catalog, found, PackageTable::ColumnDisplayName), catalog,
        oper == Upgrade ? Upgrade : QuickInstall);
}

void OperationRouter::restart(int row, const QString &key, const QString &oper)
{
    m_reDownloading = true;
    qDebug() << "row=" << row << "   name=" << key;
    CatalogPage &catalogPage = m_window->catalogPage();
    QTableWidget *catalog = catalogPage.table();
    if (row >= 0 && row < catalog->rowCount() &&
        PackageTable::hasItem(catalog, row, PackageTable::ColumnKey)) {
        qDebug() << "********  oper=" << oper;
        InstallItem *item = m_window->controllerAt(catalog, row);
        if (item && PackageTable::text(catalog, row, PackageTable::ColumnKey) == key)
            item->execTask(oper);
        else
            m_reDownloading = false;
        return;
    }
    int found = PackageTable::findRow(catalog, PackageTable::ColumnKey, key);
    if (found < 0)
        found = catalogPage.rowForWaitingKey(key);
    InstallItem *item = m_window->controllerAt(catalog, found);
    if (!item) {
        // Nothing to start: the next request of a row must be registered as usual.
        m_reDownloading = false;
        return;
    }
    if (oper == Upgrade) {
        item->execTask(oper);
    } else if (item->getOperSign()) {
        m_downloadManager->modifyparament(key, found, Upgrade);
        item->execTask(Upgrade);
    } else {
        item->execTask(oper);
    }
}
