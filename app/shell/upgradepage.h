#pragma once

#include <QString>
#include <QVector>

namespace Ui
{
class MainWindow;
}
class CatalogPage;
class ClientDemon;
class MainWindow;
class QTableWidgetItem;

// The upgrade page: the upgradable rows of the catalog table with their check column, the
// count in its header line and on the badge, and the batch "升级所选软件".
class UpgradePage
{
public:
    UpgradePage(MainWindow *window, Ui::MainWindow *ui, ClientDemon *demon, CatalogPage &catalog);

    void enter();
    // The upgradable records of the saved search, into the catalog table.
    void loadList();
    // Header line and badge.
    void showCount(int count);
    void showBadge(int count);
    void refreshCount();

    void selectAllClicked();
    void checkItemChanged(QTableWidgetItem *item);
    void cellClicked(int row, int column);

    void upgradeSelected();
    void runBatch();
    // A row of an upgradable record was added by the loader.
    void countRowAdded() { ++m_rowsPresent; }

    // A package of the batch that will not be upgraded: out of the batch and its counts.
    void dropFromBatch(const QString &rpm);
    // Refused before it started: out of the batch, the counts left as they are.
    void forgetPending(const QString &rpm) { m_pending.removeAll(rpm); }
    // Upgraded: out of the batch; after the batch's last one "全选" follows the rows.
    void upgradeFinished(const QString &rpm);

private:
    MainWindow *m_window;
    Ui::MainWindow *ui;
    ClientDemon *m_demon;
    CatalogPage &m_catalog;
    bool m_running = false;
    QVector<QString> m_pending;
    int m_rowsPresent = 0;
    int m_batchIndex = 0;
};
