#pragma once

#include "records/rpmdata.h"
#include "shell/lazytable.h"
#include "shell/packagecolumns.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class CatalogReader;
class InstallItem;
class PageState;
class QCheckBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QStackedWidget;
class QTableWidget;
class QTableWidgetItem;
class QWidget;
class RowFactory;
class SearchBox;

// The catalog table, which serves the home page with its categories, the search results and
// the upgrade page: rows made lazily from the records that wait, hidden and shown, never
// removed.
class CatalogPage : public QObject
{
    Q_OBJECT

public:
    struct Widgets {
        QStackedWidget *pages; // the window's pages; page is this one's
        QWidget *page;
        QStackedWidget *content; // the loading picture or the table
        QWidget *loading;
        QWidget *contentPage;
        QListWidget *categories;
        QTableWidget *table;
        QCheckBox *selectAll;
        QPushButton *batchButton; // "升级所选软件"
        QLabel *emptyText;
    };

    CatalogPage(const Widgets &widgets, CatalogReader &reader, const RowFactory &rows,
                SearchBox &search, PageState &state);

    // The fourteen category items, "全部软件" first; an item's type is its category code.
    static void setUpCategories(QListWidget *list);
    static void setUpTable(QTableWidget *table);

    const QVector<RpmData> &waiting() const { return m_table.waiting(); }

    // The rows as the other pages act on them: by index, what a cell keeps, busy or idle,
    // ticked, the controller in the operation cell.
    int rowCount() const;
    QString cell(int row, int column) const;
    bool hasCell(int row, int column) const;
    bool isRowHidden(int row) const;
    void hideRow(int row);
    bool isChecked(int row) const;
    void setChecked(int row, bool checked);
    void markBusy(int row);
    InstallItem *controllerAt(int row) const;
    // Presses the operation of the lowest idle row of the package (see RowFactory).
    bool pressIdleRow(const QString &rpm, bool withHidden);
    // The table is the one the search and the window act on.
    void makeCurrent();

    // "全选" and the ticks (see LazyTable).
    Qt::CheckState selectAllState() const;
    void setSelectAllState(Qt::CheckState state) { m_table.setSelectAllState(state); }
    void applySelectAll(bool visibleOnly) { m_table.applySelectAll(visibleOnly); }
    void checkItemChanged(QTableWidgetItem *item) { m_table.checkItemChanged(item); }
    Qt::CheckState selectionState(bool visibleOnly, Qt::CheckState empty) const
    {
        return m_table.selectionState(visibleOnly, empty);
    }

    // Built once, at the first catalog.
    bool isBuilt() const { return m_table.isBuilt(); }
    void setBuilt() { m_table.setBuilt(); }
    // The next scroll move is taken back; the user's position is put back.
    void keepScrollPosition() { m_table.keepScrollPosition(); }
    void restoreScrollPosition();
    bool isShown() const;
    int categoryRow(QListWidgetItem *item) const;

    // Appends a row for the record, checked as "全选" is; returns its index.
    int appendRow(const RpmData &data);
    // The first build: the pending category's item (or item 0) selected, the first batch.
    // Returns the pending category's item, null when none is pending.
    QListWidgetItem *build(int pendingCategory);
    void loadCatalog();
    void writeFirstBatch();
    // The current category of the list, shown without a search.
    void showCurrentCategory();
    // The records of the category an item text names, with the search text.
    void showCategory(const QString &itemText);
    // Hides every row and shows the results, rows made for those still waiting; returns the
    // rows shown.
    QList<int> showResults(const QVector<RpmData> &results);
    void search(const QString &text);
    void rewriteRow(QTableWidget *table, int row, const RpmData &data);
    // The next batch of waiting records that match the category, the search and the page;
    // returns how many rows it added.
    int loadMore();
    // Adds one more waiting record that the search and the page let through.
    void loadOneMore();
    void scrolled(int value);
    void enter();
    // This page shown with the table as the view has it: columns, style, categories at home.
    void showView(PackageColumns::View view);
    void showLoading();
    void showContent();
    void updateCategoryCounts();
    // Records without a row wait as the catalog has them now.
    void refreshWaitingRecords();
    // The waiting record of a name as the catalog has it now.
    void refreshWaitingRecord(const QString &name);

    // Changed packages from the catalog: idle rows take them, busy rows are remembered.
    void applyChangedPackages(const QStringList &packages);
    // After a result on a row remembered as stale: the row shows the catalog's record.
    void refreshStaleRow(int row);

    // Gives the row of a name a new controller for the operation word; a record without a
    // row gets a catalog row.
    void setRowOperation(QTableWidget *table, const QString &name, const QString &word);
    void setRowOperation(const QString &name, const QString &word)
    {
        setRowOperation(table(), name, word);
    }
    // Makes a row for the waiting record of a task key; -1 when none waits.
    int rowForWaitingKey(const QString &key);
    int rowOfKey(const QString &key) const;
    void markIdle(int row);
    // What the download manager calls a failed task: the row's package string, else the key.
    QString failedPackage(int row, const QString &key) const;

signals:
    // The home view replaces the upgrade view.
    void homeViewShown();
    // A row made for a record after the first batch, whichever page asked for it.
    void rowAdded(int row, const RpmData &record);

private:
    QTableWidget *table() const { return m_table.table(); }
    int appendCatalogRow(const RpmData &data, bool checked);
    RpmData catalogRecord(const QString &name);

    Widgets m_widgets;
    CatalogReader &m_reader;
    const RowFactory &m_rows;
    SearchBox &m_search;
    PageState &m_state;
    LazyTable m_table;
    QList<int> m_matchingRows;
    QMap<QString, bool> m_staleRows;
};
