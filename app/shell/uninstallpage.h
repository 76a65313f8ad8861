#pragma once

#include "records/rpmdata.h"
#include "shell/lazytable.h"
#include "shell/removalquestion.h"

#include <QHash>
#include <QString>
#include <QVector>

namespace Ui
{
class MainWindow;
}
class ClientDemon;
class QCheckBox;
class MainWindow;
class QTableWidget;
class QTableWidgetItem;
class RowFactory;

// The uninstall page: the installed catalog packages in their own lazily filled table, one
// "卸载" each, and the confirmed batch "卸载所选软件".
class UninstallPage
{
public:
    UninstallPage(MainWindow *window, Ui::MainWindow *ui, ClientDemon *demon,
                  const RowFactory &rows);

    static void setUpTable(QTableWidget *table, QCheckBox *selectAll);

    LazyTable &lazyTable() { return m_table; }
    QTableWidget *table() const { return m_table.table(); }
    const QVector<RpmData> &waiting() const { return m_table.waiting(); }

    void enter();
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
    // The answer to a confirmation: 1 to go on, 0 to drop the batch.
    void confirmationAnswered(int result);

    // The request of a row's "卸载": part of a confirmed batch, or asked now. The row it names
    // (found by package string when rows moved), or -1 when nothing is to be uninstalled.
    int acceptRequest(int row, const QString &rpm);
    // A package of the batch that will not be uninstalled.
    void dropFromBatch(const QString &rpm);
    // Uninstalled: counted, out of the batch; true when it was the batch's last one.
    bool uninstallFinished(const QString &rpm);
    void selectAllFollowsRows();
    void addInstalled(int delta) { m_installedTotal += delta; }
    void showInstalledCount(int count);

private:
    enum class Question { None, Batch, Single };

    void loadAllWaiting();
    // Presses "卸载" on the idle row of every package of the confirmed batch.
    void dispatchBatch();

    MainWindow *m_window;
    Ui::MainWindow *ui;
    ClientDemon *m_demon;
    const RowFactory &m_rows;
    RemovalQuestion m_removalQuestion;
    LazyTable m_table;
    int m_installedTotal = 0;
    bool m_selectAll = false;
    // The confirmed batch: packages whose results have not arrived.
    QVector<QString> m_pending;
    Question m_question = Question::None;
    // Catalog records of the names being loaded together, by name.
    QHash<QString, RpmData> m_prefetched;
    int m_singleAnswer = 0;
    int m_batchIndex = 0;
};
