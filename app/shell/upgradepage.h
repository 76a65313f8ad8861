#pragma once

#include "records/operationword.h"
#include "records/rpmdata.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

class CatalogPage;
class CatalogReader;
class DialogPresenter;
class OperationController;
class PageState;
class QLabel;
class QPushButton;
class QTableWidgetItem;
class QWidget;
class SearchBox;

// The upgrade page: the upgradable rows of the catalog table with their check column, the
// count in its header line and on the badge, and the batch "升级所选软件"; the results of
// upgrades, whichever page started them. It keeps which rows its view lists; the catalog
// page keeps the table.
class UpgradePage : public QObject
{
    Q_OBJECT

public:
    struct Widgets {
        QWidget *batchBar; // "全选" and "升级所选软件"
        QLabel *countLine;
        QPushButton *reloadButton;
        QPushButton *badge;
    };

    UpgradePage(const Widgets &widgets, CatalogReader &reader, CatalogPage &catalog,
                SearchBox &search, PageState &state, DialogPresenter &dialogs,
                OperationController &operations);

    void enter();
    // The home view's header: no batch bar, no count line.
    void hideHeader();
    // The upgradable records of the saved search, into the catalog table.
    void loadList();
    // The upgradable records of a search typed while this page is shown.
    void search(const QString &text);
    // Shows the records in the catalog table; the rows shown become this view's rows.
    void showResults(const QVector<RpmData> &results);
    // A catalog row made after the list: an upgradable one is the view's too.
    void rowAdded(int row, const RpmData &record);
    // Header line and badge.
    void showCount(int count);
    void showBadge(int count);
    void refreshCount();
    // The badge alone, as the catalog has it now.
    void refreshBadge();

    void selectAllClicked();
    void checkItemChanged(QTableWidgetItem *item);
    void cellClicked(int row, int column);

    void upgradeSelected();
    void runBatch();

    // Refused before it started: out of the batch, the counts left as they are.
    void forgetPending(const QString &rpm) { m_pending.removeAll(rpm); }

    void taskFinished(Operation operation, int res, const QString &key);
    void taskCancelled(const QString &key, bool dequeued);
    // Uninstalled elsewhere: no longer upgradable, out of the view; the count follows.
    void packageUninstalled(const QString &name);

signals:
    void upgraded(const QString &name);

private:
    int upgradableCount() const;
    // Out of the view's rows, and out of sight when the view is shown.
    void dropRow(int row);
    // The view's rows still shown, from the bottom row up.
    QList<int> shownRows() const;
    // A package of the batch that will not be upgraded: out of the batch and its counts.
    void dropFromBatch(const QString &rpm);
    // Upgraded: out of the batch; after the batch's last one "全选" follows the rows.
    void upgradeFinished(const QString &rpm);
    void upgradeResult(int res, const QString &key);

    Widgets m_widgets;
    CatalogReader &m_reader;
    CatalogPage &m_catalog;
    SearchBox &m_search;
    PageState &m_state;
    DialogPresenter &m_dialogs;
    OperationController &m_operations;
    bool m_running = false;
    QVector<QString> m_pending;
    QSet<int> m_rows;
    int m_rowsPresent = 0;
    int m_batchIndex = 0;
};
