#include "shell/operationresults.h"

#include "records/operationword.h"
#include "shell/catalogpage.h"
#include "shell/mainwindow.h"
#include "shell/operationrouter.h"
#include "shell/packagetable.h"
#include "shell/shelltexts.h"
#include "shell/uninstallpage.h"
#include "shell/upgradepage.h"
#include "tasks/datathread.h"
#include "tasks/installitem.h"
#include "tasks/loaddialog.h"

#include <QDebug>
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

OperationResults::OperationResults(MainWindow *window) : m_window(window) {}

void OperationResults::launch(const QString &commandLine)
{
    if (commandLine.isEmpty() || commandLine == QLatin1String("NULL")) {
        m_window->showMessage(QStringLiteral("此应用程序不能打开！"));
        return;
    }
    // Through the shell as written, run as the login user, never as root.
    auto *launcher = new DataThread(commandLine);
    QObject::connect(launcher, &QThread::finished, launcher, &QObject::deleteLater);
    launcher->start();
}

void OperationResults::apply(const QString &oper, int res, const QString &third, const QString &key)
{
    qDebug() << oper << res << third << "******************" << key;
    CatalogPage &catalogPage = m_window->catalogPage();
    catalogPage.lazyTable().keepScrollPosition();
    if (oper == OpenApp) {
        launch(third);
        return;
    }

    const int row = PackageTable::findRow(catalogPage.table(), PackageTable::ColumnKey, key);
    if (res == 0)
        m_window->router().resultArrived(key);
    if (oper == QuickInstall || oper == Install)
        installResult(oper, res, key, row);
    else if (oper == Download)
        downloadResult(res, key, row);
    else if (oper == Upgrade)
        upgradeResult(oper, res, key, row);
    else if (oper == Uninstall)
        uninstallResult(res, key);

    if (oper == QuickInstall || oper == Install || oper == Download)
        catalogPage.refreshStaleRow(row);
}

void OperationResults::downloadEnded(const QString &oper, int res, const QString &key)
{
    qDebug() << "************   MainWindow::downloadEndSlot*****************   flag=" << res
             << "   name=" << key;
    if (res != 0)
        return;
    QTableWidget *table = m_window->catalogPage().table();
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString rowKey = PackageTable::text(table, row, PackageTable::ColumnKey);
        qDebug() << "tableWidget->item(i,8)->text()=" << rowKey;
        if (rowKey != key)
            continue;
        if (InstallItem *item = m_window->controllerAt(table, row))
            item->downLoadEnd(oper);
        break;
    }
}

QString OperationResults::failedPackage(int row, const QString &key) const
{
    if (row < 0)
        return key;
    return PackageTable::text(m_window->catalogPage().table(), row, PackageTable::ColumnRpm);
}

void OperationResults::installResult(const QString &oper, int res, const QString &key, int row)
{
    QTableWidget *catalog = m_window->catalogPage().table();
    LoadDialog *manager = m_window->downloadManager();
    const QString name =
        row >= 0 ? PackageTable::text(catalog, row, PackageTable::ColumnDisplayName) : QString();
    if (res == 0) {
        if (row >= 0) {
            PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::idle());
            m_window->insertAllandTypeConent(name, catalog, OpenApp);
            UninstallPage &uninstallPage = m_window->uninstallPage();
            uninstallPage.refreshRow(name);
            uninstallPage.addInstalled(1);
        }
        // Installed: the package is no longer a download waiting to be installed.
        manager->installSuccess(key, oper);
        return;
    }
    m_window->router().reportFailure(QStringLiteral("安装软件失败！"), key);
    if (row >= 0) {
        PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::idle());
        m_window->insertAllandTypeConent(name, catalog, QuickInstall);
    }
    manager->downLoadFail(failedPackage(row, key), res);
}

void OperationResults::downloadResult(int res, const QString &key, int row)
{
    QTableWidget *catalog = m_window->catalogPage().table();
    LoadDialog *manager = m_window->downloadManager();
    const QString name =
        row >= 0 ? PackageTable::text(catalog, row, PackageTable::ColumnDisplayName) : QString();
    if (row >= 0) {
        PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::idle());
        m_window->insertAllandTypeConent(name, catalog, res == 0 ? Install : QuickInstall);
    }
    if (res == 0) {
        manager->progressSlot(key, 100);
        return;
    }
    m_window->router().reportFailure(QStringLiteral("下载软件失败！"), key);
    manager->downLoadFail(failedPackage(row, key), res);
}

void OperationResults::upgradeResult(const QString &oper, int res, const QString &key, int row)
{
    CatalogPage &catalogPage = m_window->catalogPage();
    UpgradePage &upgradePage = m_window->upgradePage();
    QTableWidget *catalog = catalogPage.table();
    LoadDialog *manager = m_window->downloadManager();
    const QString rpm =
        row >= 0 ? PackageTable::text(catalog, row, PackageTable::ColumnRpm) : QString();
    const QString name =
        row >= 0 ? PackageTable::text(catalog, row, PackageTable::ColumnDisplayName) : QString();
    if (res != 0) {
        m_window->router().reportFailure(QStringLiteral("升级软件失败！"), key);
        if (row >= 0) {
            PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::idle());
            m_window->insertAllandTypeConent(name, catalog, Upgrade);
            upgradePage.dropFromBatch(rpm);
        }
        manager->downLoadFail(failedPackage(row, key), res);
        return;
    }
    if (row >= 0) {
        PackageTable::setText(catalog, row, PackageTable::ColumnState, ShellTexts::idle());
        upgradePage.refreshCount();
        catalogPage.hideUpgradedRow(row);
        m_window->insertAllandTypeConent(name, catalog, OpenApp);
        m_window->modifyDeleteTableWidget(name, rpm);
        m_window->loadUpdatePackageFromData();
        catalogPage.lazyTable().setSelectAllState(Qt::Unchecked);
        m_window->loadAllPackageNewData();
        upgradePage.upgradeFinished(rpm);
    }
    manager->installSuccess(key, oper);
}

void OperationResults::uninstallResult(int res, const QString &key)
{
    UninstallPage &uninstallPage = m_window->uninstallPage();
    QTableWidget *uninstall = uninstallPage.table();
    const int row = PackageTable::findRow(uninstall, PackageTable::ColumnKey, key);
    if (row < 0) {
        if (res != 0)
            m_window->showMessage(QStringLiteral("卸载软件失败！"));
        return;
    }
    const QString rpm = PackageTable::text(uninstall, row, PackageTable::ColumnRpm);
    const QString name = PackageTable::text(uninstall, row, PackageTable::ColumnDisplayName);
    PackageTable::setText(uninstall, row, PackageTable::ColumnState, ShellTexts::idle());
    if (res != 0) {
        if (InstallItem *item = m_window->controllerAt(uninstall, row))
            item->execTaskSlot(Uninstall, -1, QString(), QString());
        uninstallPage.dropFromBatch(rpm);
        m_window->showMessage(QStringLiteral("卸载软件失败！"));
        return;
    }

    CatalogPage &catalogPage = m_window->catalogPage();
    QTableWidget *catalog = catalogPage.table();
    bool inCatalog = false;
    for (int r = 0; r < catalog->rowCount(); ++r) {
        if (PackageTable::text(catalog, r, PackageTable::ColumnDisplayName) != name)
            continue;
        PackageTable::setText(catalog, r, PackageTable::ColumnState, ShellTexts::idle());
        catalogPage.hideUpgradedRow(r);
        inCatalog = true;
    }
    // The badge counts what is upgradable now, not the rows that happen to be loaded.
    m_window->upgradePage().refreshCount();
    if (inCatalog)
        m_window->insertAllandTypeConent(name, catalog, QuickInstall);
    // A record still waiting for its catalog row would make that row offer the package as
    // installed.
    catalogPage.refreshWaitingRecord(name);
    // "全选" follows the rows while the last one of the batch is still there.
    if (uninstallPage.uninstallFinished(rpm))
        uninstallPage.selectAllFollowsRows();
    m_window->downloadManager()->delDatafromtable(key);
    uninstall->removeRow(row);
}
