#pragma once

#include "records/rpmdata.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

namespace Ui
{
class MainWindow;
}
class CatalogOperations;
class CatalogPage;
class ClientDemon;
class DialogPresenter;
class DownloadThread;
class GetAuthThread;
class HelpViewer;
class InstallItem;
class InstallRpmThread;
class LoadDialog;
class LoadingAnimation;
class OperationController;
class PageNavigator;
class PageState;
class QListWidgetItem;
class QTableWidget;
class QTableWidgetItem;
class QuitInstallThread;
class RowFactory;
class SearchBox;
class UninstallPage;
class UpdateRpmThread;
class UpgradePage;
class WindowFrame;
struct QueueWorkers;

// The store's only top-level window: a loading animation until the catalog is there, then
// the catalog with its categories, the upgradable packages and the installed packages, each
// row carrying the control that starts its package operation. The window creates the pages
// and their helpers, gives each the widgets and the parts it needs, and connects them; it
// does no page's work itself.
class MainWindow : public QDialog
{
    Q_OBJECT

public:
    enum Page { PageHome = 0, PageUpgrade = 1, PageUninstall = 2 };

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // What the window shows and holds, for the people and programs that look at it.
    ClientDemon *clientDemon() const { return m_demon; }
    GetAuthThread *uninstallWorker() const;
    QuitInstallThread *quickInstallWorker() const;
    DownloadThread *downloadWorker() const;
    UpdateRpmThread *upgradeWorker() const;
    InstallRpmThread *installWorker() const;
    LoadDialog *downloadManager() const { return m_loadDialog; }
    const QVector<RpmData> &waitingCatalogRecords() const;
    const QVector<RpmData> &waitingInstalledRecords() const;
    int currentPage() const;
    bool isLoading() const;
    InstallItem *controllerAt(QTableWidget *table, int row) const;
    void showMessage(const QString &text, bool hideOk = false);

    // The documented interface of the window. Nothing inside app/shell calls these: the form
    // connects the on_… slots by name, and tests and the documented interface use the rest.
    int insertAllPackageContent(RpmData data);
    void initTableAllPackage();
    void getAllPackage();
    void writeAllPackageTable(QVector<RpmData>);
    void getTypePackage(QTableWidget *, QString text);
    void searchAllTable(QVector<RpmData> results);
    void modifyTypeTableContent(RpmData data, int row);
    void loadAllPackageNewData();
    QString star_decide(int stars);
    QString changeRpmSize(QString size);
    void insertAllandTypeConent(QString name, QTableWidget *table, QString oper);
    void loadUpdatePackageFromData();
    void getUpdatePackage();
    void initTableUpdatePackage();
    void getDeletePackage();
    void writeDeletePackageTable(QVector<RpmData>);
    int insertDeleteContent(QString name, QTableWidget *table);
    void loadDelPackageNewData();
    void searchDeleteTable(QVector<RpmData> results);
    void modifyDeleteTableWidget(QString name, QString);

public slots:
    void on_btn_allPackage_clicked();
    void on_btn_packageUpdate_clicked();
    void on_btn_packageDelete_clicked();
    void goPage(QListWidgetItem *item);
    void getUpdateNum(int value);
    void updateAppSlot(QStringList packages);
    // The facade forwards the cache cleaning's end; nothing here depends on it.
    void updateEndSlot(int);
    // Closing goes through closeEvent's guard, whatever asks for it.
    void on_btn_close_clicked();
    // Escape never closes the store.
    void reject() override;
    void on_btn_min_clicked();
    void on_btn_max_clicked();
    void on_HelpButton_clicked();
    void on_pushButton_download_clicked();
    void updatePixmap();
    void mouseRightSlot(int x, int y);
    void searchPackage();
    void on_btn_search_clicked();
    void keyOperationSlot();
    void on_lineEdit_search_textEdited(QString text);
    void allPackageScrollChangedSlot(int value);
    void allPackageChangedSlot(int row, int column);
    void allPackageItemClickedSlot(QTableWidgetItem *item);
    void on_checkBox_update_clicked();
    void on_btn_update_soft_clicked();
    void execUpdateSlot();
    void on_pushButton_update_clicked();
    void on_btn_update_down_clicked();
    void delPackageScrollChangedSlot(int value);
    void delPackageItemClickedSlot(QTableWidgetItem *item);
    void on_checkBox_delete_clicked();
    void on_btn_delete_soft_clicked();
    void execUninstallSlot(int result);
    void on_btn_delete_down_clicked();
    void openSoft(QString oper, int res, QString third, QString key);
    void downloadEndSlot(QString oper, int res, QString third, QString key);
    void startExecSlot(QString oper);
    bool isRunningSlot(int row, QTableWidget *table, QString oper, QString rpm, bool mayProceed);
    void cancelDownLoadSlot(QString key);
    void progressSlot(QString key, int percent);
    void loadDialogCancelSlot(int row, QString oper, QString key);
    void reDownLoadSlot(int row, QString key, QString oper);

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createParts();
    void connectParts();

    Ui::MainWindow *ui;
    std::unique_ptr<WindowFrame> m_frame;
    std::unique_ptr<HelpViewer> m_help;
    ClientDemon *m_demon = nullptr;
    std::unique_ptr<QueueWorkers> m_workers;
    LoadingAnimation *m_loading = nullptr;
    LoadDialog *m_loadDialog = nullptr;
    std::unique_ptr<PageState> m_state;
    std::unique_ptr<DialogPresenter> m_dialogs;
    std::unique_ptr<OperationController> m_operations;
    std::unique_ptr<RowFactory> m_rows;
    std::unique_ptr<SearchBox> m_searchBox;
    std::unique_ptr<CatalogPage> m_catalogPage;
    std::unique_ptr<CatalogOperations> m_catalogOperations;
    std::unique_ptr<UpgradePage> m_upgradePage;
    std::unique_ptr<UninstallPage> m_uninstallPage;
    std::unique_ptr<PageNavigator> m_navigator;
};
