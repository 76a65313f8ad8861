#pragma once

#include "records/rpmdata.h"

#include <QDialog>
#include <QList>
#include <QMap>
#include <QPoint>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Ui
{
class MainWindow;
}
class ClientDemon;
class comDialog;
class DataThread;
class DownloadThread;
class GetAuthThread;
class InstallItem;
class InstallRpmThread;
class LoadDialog;
class QCheckBox;
class QListWidgetItem;
class QMutex;
class QTableWidget;
class QTableWidgetItem;
class QTimer;
class QuitInstallThread;
class UpdateRpmThread;

// The store's only top-level window: a loading animation until the catalog is there, then
// the catalog with its categories, the upgradable packages and the installed packages, each
// row carrying the control that starts its package operation.
class MainWindow : public QDialog
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    int insertAllPackageContent(RpmData data);
    void initTableAllPackage();
    void getAllPackage();
    void writeAllPackageTable(QVector<RpmData> data);
    void getTypePackage(QTableWidget *table, QString text);
    void searchAllTable(QVector<RpmData> results);
    void modifyTypeTableContent(RpmData data, int row);
    void loadAllPackageNewData();
    QString star_decide(int stars);
    QString changeRpmSize(QString size);

    void getUpdatePackage();
    void initTableUpdatePackage();

    void getDeletePackage();
    void writeDeletePackageTable(QVector<RpmData> data);
    int insertDeleteContent(QString name, QTableWidget *table);
    void loadDelPackageNewData();
    void searchDeleteTable(QVector<RpmData> results);
    void modifyDeleteTableWidget(QString name, QString unused);

    void insertAllandTypeConent(QString name, QTableWidget *table, QString oper);
    void loadUpdatePackageFromData();

    // What the window shows and holds, for the people and programs that look at it.
    ClientDemon *clientDemon() const { return m_demon; }
    GetAuthThread *uninstallWorker() const { return m_getAuthThread; }
    QuitInstallThread *quickInstallWorker() const { return m_quitInstallThread; }
    DownloadThread *downloadWorker() const { return m_downloadThread; }
    UpdateRpmThread *upgradeWorker() const { return m_updateRpmThread; }
    InstallRpmThread *installWorker() const { return m_installRpmThread; }
    LoadDialog *downloadManager() const { return m_loadDialog; }
    const QVector<RpmData> &waitingCatalogRecords() const { return all_data; }
    const QVector<RpmData> &waitingInstalledRecords() const { return del_data; }
    int currentPage() const { return m_page; }
    bool isLoading() const;
    InstallItem *controllerAt(QTableWidget *table, int row) const;

public slots:
    void on_btn_allPackage_clicked();
    void on_btn_packageUpdate_clicked();
    void on_btn_packageDelete_clicked();
    void goPage(QListWidgetItem *item);

    void getUpdateNum(int value);
    void updateAppSlot(QStringList packages);
    void updateEndSlot(int value);

    void on_btn_close_clicked();
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
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum Page { HomePage = 0, UpgradePage = 1, UninstallPage = 2 };

    void setUpCategories();
    void setUpTables();
    void connectSignals();
    void setNavigationStyle(int page);
    void leavePage(int page);
    void emptySearchBox();
    void setUpgradeHeaderVisible(bool visible);
    void setUpgradeCount(int count);
    void refreshUpgradeCount();
    void refreshWaitingRecords();
    void setCheckBox(QTableWidget *table, int row, bool checked, bool *guard);
    void setSelectAllBox(QCheckBox *box, Qt::CheckState state, bool *guard);
    void showMessage(const QString &text, bool hideOk = false);
    void placeDialog(QDialog *dialog);

    int appendCatalogRow(const RpmData &data, bool checked, bool trackUpgradable);
    int appendDeleteRow(QTableWidget *table, const RpmData &data, bool checked);
    InstallItem *createController(const RpmData &data, const QStringList &choices,
                                  const QString &text, int row, QTableWidget *table);
    InstallItem *controllerFor(const RpmData &data, int row, QTableWidget *table);
    void rewriteRow(QTableWidget *table, int row, const RpmData &data);
    int findWaiting(const QVector<RpmData> &list, const QString &name, const QString &rpm) const;
    RpmData catalogRecord(const QString &name);
    RpmData recordFromRow(QTableWidget *table, int row) const;
    bool isRowVisible(QTableWidget *table, int row) const;

    bool mayReportFailure() const;
    void reportFailure(const QString &text);
    QString failedPackage(int row, const QString &key) const;
    void dropPending(QVector<QString> *pending, const QString &rpm, int *size, int *index);
    void hideUpgradedRow(int row);
    void installResult(const QString &oper, int res, const QString &key, int row);
    void downloadResult(int res, const QString &key, int row);
    void upgradeResult(const QString &oper, int res, const QString &key, int row);
    void uninstallResult(int res, const QString &key);

    Ui::MainWindow *ui;
    int m_page = HomePage;
    int m_allPackage_value = 0;
    int m_delPackage_value = 0;
    int m_delBatchIndex = 0;
    int m_delBatchSize = 0;
    int m_updateBatchIndex = 0;
    int m_updateBatchSize = 0;
    QPoint m_dragPosition;
    bool m_dragging = false;
    bool m_allRestore = false;
    bool m_delRestore = false;
    QString m_lineEdit_all;
    QString m_lineEdit_update;
    QSharedPointer<QMutex> m_busyLock;
    ClientDemon *m_demon = nullptr;
    GetAuthThread *m_getAuthThread = nullptr;
    QuitInstallThread *m_quitInstallThread = nullptr;
    DownloadThread *m_downloadThread = nullptr;
    UpdateRpmThread *m_updateRpmThread = nullptr;
    InstallRpmThread *m_installRpmThread = nullptr;
    QVector<RpmData> all_data;
    QVector<RpmData> del_data;
    QTableWidget *m_currentTable = nullptr;
    QSharedPointer<comDialog> m_dialog;
    LoadDialog *m_loadDialog = nullptr;
    QList<int> m_allPackage_row;
    QList<int> m_updatePackage_row;
    QTimer *m_loadingTimer = nullptr;
    int m_pendingCategory = -1;
    int m_frame = 1;
    int m_cycles = 0;
    QMap<QString, bool> m_staleRows;
    QMap<QString, bool> m_staleRowsSpare;
    bool m_catalogBuilt = false;
    bool m_updateBuilt = false;
    bool m_deleteBuilt = false;
    bool m_allInsertGuard = true;
    bool m_delInsertGuard = true;
    DataThread *m_helpThread = nullptr;

    // Upgrade page.
    bool m_updateRunning = false;
    QVector<QString> m_pendingUpgrade;
    int m_updateRowsPresent = 0;

    // Uninstall page.
    int m_installedTotal = 0;
    bool m_selectAll = false;
    QVector<QString> m_pendingUninstall;
    bool m_delBatchRunning = false;
    int m_selectedCount = 0;

    // Operation traffic.
    bool m_cancelling = false;
    bool m_reDownloading = false;
};
