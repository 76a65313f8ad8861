#pragma once

#include "records/operationword.h"
#include "records/rpmdata.h"
#include "shell/lazytable.h"
#include "shell/removalquestion.h"
#include "shell/taskrequests.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

class CatalogPage;
class CatalogReader;
class DialogPresenter;
class OperationController;
class PageState;
class QCheckBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTableWidget;
class QTableWidgetItem;
class QWidget;
class RowFactory;
class SearchBox;

// The uninstall page: the installed catalog packages in their own lazily filled table, one
// "卸载" each, and the confirmed batch "卸载所选软件".
class UninstallPage : public QObject, public TaskRequests
{
    Q_OBJECT

public:
    struct Widgets {
        QStackedWidget *pages; // the window's pages; page is this one's
        QWidget *page;
        QTableWidget *table;
        QCheckBox *selectAll;
        QPushButton *batchButton; // "卸载所选软件"
        QLabel *countLine;
        QLabel *emptyText;
    };

    // catalog: read only for the log lines that give its waiting records. Answers the
    // requests of its table's rows from now on.
    UninstallPage(const Widgets &widgets, CatalogReader &reader, const RowFactory &rows,
                  SearchBox &search, PageState &state, DialogPresenter &dialogs,
                  OperationController &operations, const CatalogPage &catalog);
    ~UninstallPage() override;

    static void setUpTable(QTableWidget *table, QCheckBox *selectAll);

    const QVector<RpmData> &waiting() const { return m_table.waiting(); }

    bool isShown() const;
    void enter();
    void search(const QString &text);
    void scrolled(int value);
    void build();
    void writeFirstBatch();
    // Appends a row for the catalog record of a display name; -1 when the catalog has none.
    int appendRow(const QString &name, QTableWidget *table);
    void loadMore();
    void showResults(const QVector<RpmData> &results);
    // The row of a name made anew from the catalog.
    void refreshRow(const QString &name);

    void selectAllClicked();
    void checkItemChanged(QTableWidgetItem *item);
    void uninstallSelected();
    // The answer to the batch's confirmation: 1 to go on, 0 to drop the batch.
    void confirmationAnswered(int result);

    // A row's "卸载": queued when part of a confirmed batch, else asked once rpm has named
    // what needs it; true goes back to the row, which shows it waits. Nothing else is
    // queued from this table.
    bool request(int row, Operation operation, const QString &rpm, bool mayProceed) override;
    void taskStarted(Operation operation);
    void taskFinished(Operation operation, int res, const QString &key);
    // Installed from the catalog: its row here is made anew and counted.
    void packageInstalled(const QString &name);

signals:
    void uninstalled(const QString &name);

private:
    QTableWidget *table() const { return m_table.table(); }
    // A confirmed batch whose results have not all come.
    bool isBatchRunning() const { return !m_pending.isEmpty() && !m_batchAsked; }
    // A package of the batch that will not be uninstalled.
    void dropFromBatch(const QString &rpm);
    // Uninstalled: counted, out of the batch; true when it was the batch's last one.
    bool uninstallFinished(const QString &rpm);
    void selectAllFollowsRows();
    void addInstalled(int delta) { m_installedTotal += delta; }
    void showInstalledCount(int count);
    // The row of a package string: row itself while it still shows it, else found anew; -1
    // when it is gone.
    int rowOf(int row, const QString &rpm) const;
    // A row whose question was declined, or whose application runs: "卸载" again.
    void backToIdle(const QString &rpm);
    // The confirmed "卸载" of a row queued, or refused when its application runs.
    bool proceed(int row, const QString &rpm, bool mayProceed);
    void uninstallResult(int res, const QString &key);
    void loadAllWaiting();
    // Presses "卸载" on the idle row of every package of the confirmed batch.
    void dispatchBatch();

    Widgets m_widgets;
    CatalogReader &m_reader;
    const RowFactory &m_rows;
    SearchBox &m_search;
    PageState &m_state;
    DialogPresenter &m_dialogs;
    OperationController &m_operations;
    const CatalogPage &m_catalog;
    RemovalQuestion m_removalQuestion;
    LazyTable m_table;
    int m_installedTotal = 0;
    bool m_selectAll = false;
    // The confirmed batch: packages whose results have not arrived.
    QVector<QString> m_pending;
    // The batch's question is on the way: m_pending is not confirmed yet.
    bool m_batchAsked = false;
    // Rows whose question is on the way, by package string.
    QSet<QString> m_asking;
    // Catalog records of the names being loaded together, by name.
    QHash<QString, RpmData> m_prefetched;
    int m_batchIndex = 0;
};
