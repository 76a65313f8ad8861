#pragma once

#include "records/rpmdata.h"
#include "shell/lazytable.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Ui
{
class MainWindow;
}
class ClientDemon;
class MainWindow;
class QListWidget;
class QListWidgetItem;
class QTableWidget;
class RowFactory;

// The catalog table, which serves the home page with its categories, the search results and
// the upgrade page: rows made lazily from the records that wait, hidden and shown, never
// removed.
class CatalogPage
{
public:
    CatalogPage(MainWindow *window, Ui::MainWindow *ui, ClientDemon *demon, const RowFactory &rows);

    // The fourteen category items, "全部软件" first; an item's type is its category code.
    static void setUpCategories(QListWidget *list);
    static void setUpTable(QTableWidget *table);

    LazyTable &lazyTable() { return m_table; }
    QTableWidget *table() const { return m_table.table(); }
    const QVector<RpmData> &waiting() const { return m_table.waiting(); }
    // Rows matching the home page's view, and the rows of upgradable records.
    QList<int> &matchingRows() { return m_matchingRows; }
    QList<int> &upgradableRows() { return m_upgradableRows; }

    // Appends a row for the record, checked as "全选" is; returns its index.
    int appendRow(const RpmData &data);
    // The first build: the pending category's item (or item 0) selected, the first batch.
    void build(int pendingCategory);
    void loadCatalog();
    void writeFirstBatch();
    // The current category of the list, shown without a search.
    void showCurrentCategory();
    // The records of the category an item text names, with the search text.
    void showCategory(const QString &itemText);
    // Hides every row and shows the results, rows made for those still waiting.
    void showResults(const QVector<RpmData> &results);
    void rewriteRow(QTableWidget *table, int row, const RpmData &data);
    // The next batch of waiting records that match the category, the search and the page.
    void loadMore();
    // Adds one more waiting record that the search and the page let through.
    void loadOneMore();
    void enter();
    void updateCategoryCounts();
    // Records without a row wait as the catalog has them now.
    void refreshWaitingRecords();
    // The waiting record of a name as the catalog has it now.
    void refreshWaitingRecord(const QString &name);

    // Changed packages from the catalog: idle rows take them, busy rows are remembered.
    void applyChangedPackages(const QStringList &packages);
    // After a result on a row remembered as stale: the row shows the catalog's record.
    void refreshStaleRow(int row);
    void forgetStaleRows() { m_staleRows.clear(); }

    // Gives the row of a name a new controller for the operation word; a record without a
    // row gets a catalog row.
    void setRowOperation(QTableWidget *table, const QString &name, const QString &word);
    void hideUpgradedRow(int row);
    // Makes a row for the waiting record of a task key; -1 when none waits.
    int rowForWaitingKey(const QString &key);

private:
    int appendCatalogRow(const RpmData &data, bool checked, bool trackUpgradable);
    RpmData catalogRecord(const QString &name);
    static RpmData recordFromRow(const QTableWidget *table, int row);

    MainWindow *m_window;
    Ui::MainWindow *ui;
    ClientDemon *m_demon;
    const RowFactory &m_rows;
    LazyTable m_table;
    QList<int> m_matchingRows;
    QList<int> m_upgradableRows;
    QMap<QString, bool> m_staleRows;
};
