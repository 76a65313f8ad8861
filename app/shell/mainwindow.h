#pragma once

#include "records/rpmdata.h"
#include "shell/catalogpage.h"
#include "shell/dialogpresenter.h"
#include "shell/operationresults.h"
#include "shell/operationrouter.h"
#include "shell/packagetable.h"
#include "shell/queueworkers.h"
#include "shell/searchbox.h"
#include "shell/uninstallpage.h"
#include "shell/upgradepage.h"
#include "shell/windowframe.h"

#include <QDialog>
#include <QMutex>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

namespace Ui
{
class MainWindow;
}
class ClientDemon;
class DataThread;
class InstallItem;
class LoadDialog;
class LoadingAnimation;
class QListWidgetItem;
class QTableWidget;
class QTableWidgetItem;
class RowFactory;

// The store's only top-level window: a loading animation until the catalog is there, then
// the catalog with its categories, the upgradable packages and the installed packages, each
// row carrying the control that starts its package operation. The window holds the form and
// the objects it creates; the pages, the search box, the operation traffic and the frame are
// classes of their own, and the window's methods and slots hand the work to them.
class MainWindow : public QDialog
{
    Q_OBJECT

public:
    enum Page { PageHome = 0, PageUpgrade = 1, PageUninstall = 2 };

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Catalog table (home page, categories, search results, upgrade page).
    int insertAllPackageContent(RpmData data) { return m_catalogPage->appendRow(data); }
    void initTableAllPackage() { m_catalogPage->build(m_pendingCategory); }
    void getAllPackage() { m_catalogPage->loadCatalog(); }
    // The records come from the waiting list, which is what every caller passes.
    void writeAllPackageTable(QVector<RpmData>) { m_catalogPage->writeFirstBatch(); }
    void getTypePackage(QTableWidget *, QString text) { m_catalogPage->showCategory(text); }
    void searchAllTable(QVector<RpmData> results) { m_catalogPage->showResults(results); }
    void modifyTypeTableContent(RpmData data, int row);
    void loadAllPackageNewData() { m_catalogPage->loadMore(); }
    QString star_decide(int stars) { return PackageTable::starText(stars); }
    QString changeRpmSize(QString size) { return PackageTable::sizeText(size); }
    void insertAllandTypeConent(QString name, QTableWidget *table, QString oper)
    {
        m_catalogPage->setRowOperation(table, name, oper);
    }
    void loadUpdatePackageFromData() { m_catalogPage->loadOneMore(); }

    // Upgrade page.
    void getUpdatePackage() { m_upgradePage->loadList(); }
    void initTableUpdatePackage() { getUpdatePackage(); }

    // Uninstall page.
    void getDeletePackage() { m_uninstallPage->build(); }
    void writeDeletePackageTable(QVector<RpmData>) { m_uninstallPage->writeFirstBatch(); }
    int insertDeleteContent(QString name, QTableWidget *table)
    {
        return m_uninstallPage->appendRow(name, table);
    }
    void loadDelPackageNewData() { m_uninstallPage->loadMore(); }
    void searchDeleteTable(QVector<RpmData> results) { m_uninstallPage->showResults(results); }
    void modifyDeleteTableWidget(QString name, QString) { m_uninstallPage->refreshRow(name); }

    // What the window shows and holds, for its parts and for the people and programs that
    // look at it.
    ClientDemon *clientDemon() const { return m_demon; }
    GetAuthThread *uninstallWorker() const { return m_workers.uninstall; }
    QuitInstallThread *quickInstallWorker() const { return m_workers.quickInstall; }
    DownloadThread *downloadWorker() const { return m_workers.download; }
    UpdateRpmThread *upgradeWorker() const { return m_workers.upgrade; }
    InstallRpmThread *installWorker() const { return m_workers.install; }
    LoadDialog *downloadManager() const { return m_loadDialog; }
    const QVector<RpmData> &waitingCatalogRecords() const { return m_catalogPage->waiting(); }
    const QVector<RpmData> &waitingInstalledRecords() const { return m_uninstallPage->waiting(); }
    int currentPage() const { return m_page; }
    bool isLoading() const;
    InstallItem *controllerAt(QTableWidget *table, int row) const;

    CatalogPage &catalogPage() const { return *m_catalogPage; }
    UpgradePage &upgradePage() const { return *m_upgradePage; }
    UninstallPage &uninstallPage() const { return *m_uninstallPage; }
    SearchBox &searchBox() const { return *m_searchBox; }
    OperationRouter &router() const { return *m_router; }
    void setCurrentTable(QTableWidget *table) { m_currentTable = table; }
    void emptySearchBox() { m_searchBox->empty(); }
    void showMessage(const QString &text, bool hideOk = false)
    {
        m_dialogs->showMessage(text, hideOk);
    }
    // Asks in a new dialog; the answer goes to execUninstallSlot.
    void askToUninstall(const QString &question);

public slots:
    void on_btn_allPackage_clicked();
    void on_btn_packageUpdate_clicked();
    void on_btn_packageDelete_clicked();
    void goPage(QListWidgetItem *item);

    void getUpdateNum(int value);
    void updateAppSlot(QStringList packages) { m_catalogPage->applyChangedPackages(packages); }
    // The facade forwards the cache cleaning's end; nothing here depends on it.
    void updateEndSlot(int) {}

    // Closing goes through closeEvent's guard, whatever asks for it.
    void on_btn_close_clicked() { close(); }
    // Escape never closes the store.
    void reject() override {}
    void on_btn_min_clicked() { showMinimized(); }
    void on_btn_max_clicked() { showMaximized(); }
    void on_HelpButton_clicked();
    void on_pushButton_download_clicked();
    void updatePixmap();
    void mouseRightSlot(int x, int y) { m_searchBox->showContextMenu(x, y); }

    void searchPackage() { on_btn_search_clicked(); }
    void on_btn_search_clicked() { m_searchBox->run(); }
    void keyOperationSlot() { m_searchBox->keyPressed(); }
    void on_lineEdit_search_textEdited(QString text) { m_searchBox->textEdited(text); }

    void allPackageScrollChangedSlot(int value);
    void allPackageChangedSlot(int row, int column) { m_upgradePage->cellClicked(row, column); }
    void allPackageItemClickedSlot(QTableWidgetItem *item)
    {
        m_upgradePage->checkItemChanged(item);
    }

    void on_checkBox_update_clicked() { m_upgradePage->selectAllClicked(); }
    void on_btn_update_soft_clicked() { m_upgradePage->upgradeSelected(); }
    void execUpdateSlot() { m_upgradePage->runBatch(); }
    void on_pushButton_update_clicked();
    void on_btn_update_down_clicked() {}

    void delPackageScrollChangedSlot(int value);
    void delPackageItemClickedSlot(QTableWidgetItem *item)
    {
        m_uninstallPage->checkItemChanged(item);
    }
    void on_checkBox_delete_clicked() { m_uninstallPage->selectAllClicked(); }
    void on_btn_delete_soft_clicked() { m_uninstallPage->uninstallSelected(); }
    void execUninstallSlot(int result) { m_uninstallPage->confirmationAnswered(result); }
    void on_btn_delete_down_clicked() {}

    void openSoft(QString oper, int res, QString third, QString key)
    {
        m_results->apply(oper, res, third, key);
    }
    void downloadEndSlot(QString oper, int res, QString, QString key)
    {
        m_results->downloadEnded(oper, res, key);
    }
    void startExecSlot(QString oper) { m_router->restoreScroll(oper); }
    bool isRunningSlot(int row, QTableWidget *, QString oper, QString rpm, bool mayProceed)
    {
        return m_router->request(row, oper, rpm, mayProceed);
    }
    void cancelDownLoadSlot(QString key) { m_router->cancelFromRow(key); }
    void progressSlot(QString key, int percent);
    void loadDialogCancelSlot(int row, QString oper, QString key)
    {
        m_router->cancelFromManager(row, oper, key);
    }
    void reDownLoadSlot(int row, QString key, QString oper) { m_router->restart(row, key, oper); }

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *) override { m_frame->paint(); }
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectSignals();
    void leavePage(int page);
    void setNavigationStyle(int page);

    Ui::MainWindow *ui;
    int m_page = PageHome;
    std::unique_ptr<WindowFrame> m_frame;
    QSharedPointer<QMutex> m_busyLock;
    ClientDemon *m_demon = nullptr;
    QueueWorkers m_workers;
    QTableWidget *m_currentTable = nullptr;
    LoadingAnimation *m_loading = nullptr;
    std::unique_ptr<DialogPresenter> m_dialogs;
    LoadDialog *m_loadDialog = nullptr;
    std::unique_ptr<RowFactory> m_rows;
    std::unique_ptr<SearchBox> m_searchBox;
    std::unique_ptr<CatalogPage> m_catalogPage;
    std::unique_ptr<UpgradePage> m_upgradePage;
    std::unique_ptr<UninstallPage> m_uninstallPage;
    std::unique_ptr<OperationRouter> m_router;
    std::unique_ptr<OperationResults> m_results;
    int m_pendingCategory = -1;
    DataThread *m_helpThread = nullptr;
};
