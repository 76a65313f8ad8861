#include "shell/upgradepage.h"

#include "facade/catalogreader.h"
#include "records/codes.h"
#include "records/operationword.h"
#include "shell/catalogpage.h"
#include "shell/dialogpresenter.h"
#include "shell/operationcontroller.h"
#include "shell/packagecolumns.h"
#include "shell/packagetable.h"
#include "shell/pagestate.h"
#include "shell/rowfactory.h"
#include "shell/searchbox.h"
#include "shell/shelltexts.h"
#include "tasks/installitem.h"

#include <QCheckBox>
#include <QDebug>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <functional>

UpgradePage::UpgradePage(const Widgets &widgets, CatalogReader &reader, CatalogPage &catalog,
                         SearchBox &search, PageState &state, DialogPresenter &dialogs,
                         OperationController &operations)
    : m_widgets(widgets), m_reader(reader), m_catalog(catalog), m_search(search), m_state(state),
      m_dialogs(dialogs), m_operations(operations)
{
}

void UpgradePage::enter()
{
    m_catalog.showView(PackageColumns::View::Upgrade);
    m_widgets.batchBar->show();
    m_widgets.countLine->setVisible(true);
    m_widgets.reloadButton->setVisible(true);

    m_search.empty();
    m_search.run();

    const Qt::CheckState state = m_catalog.selectAllState();
    loadList();
    m_catalog.setSelectAllState(state);
}

void UpgradePage::hideHeader()
{
    m_widgets.batchBar->hide();
    m_widgets.countLine->setVisible(false);
    m_widgets.reloadButton->setVisible(false);
}

void UpgradePage::loadList()
{
    qDebug() << "********************  getUpdatePackage()";
    m_catalog.makeCurrent();
    const QVector<RpmData> list =
        m_reader.list(QueryMode::Upgradable, QString(), m_search.savedText(PageState::Upgrade));
    showCount(list.size());
    showResults(list);
}

void UpgradePage::search(const QString &text)
{
    if (m_state.page() != PageState::Upgrade || !m_catalog.isShown())
        return;
    m_catalog.makeCurrent();
    showResults(m_reader.list(QueryMode::Upgradable, QString(), text));
}

void UpgradePage::showResults(const QVector<RpmData> &results)
{
    const QList<int> rows = m_catalog.showResults(results);
    m_rows = QSet<int>(rows.cbegin(), rows.cend());
}

void UpgradePage::rowAdded(int row, const RpmData &record)
{
    if (record.m_state == StateUpgradable)
        m_rows.insert(row);
}

void UpgradePage::dropRow(int row)
{
    m_rows.remove(row);
    if (m_state.page() == PageState::Upgrade)
        m_catalog.hideRow(row);
}

QList<int> UpgradePage::shownRows() const
{
    QList<int> rows;
    for (int row : m_rows)
        if (!m_catalog.isRowHidden(row))
            rows.append(row);
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    return rows;
}

void UpgradePage::showCount(int count)
{
    m_widgets.countLine->setText(QStringLiteral("     总共") + QString::number(count) +
                                 QStringLiteral("款软件可更新"));
    showBadge(count);
}

void UpgradePage::showBadge(int count)
{
    if (count < 1) {
        m_widgets.badge->hide();
    } else {
        m_widgets.badge->setText(QString::number(count));
        m_widgets.badge->show();
    }
}

int UpgradePage::upgradableCount() const
{
    return m_reader.list(QueryMode::Upgradable, QString(), QString()).size();
}

void UpgradePage::refreshCount()
{
    showCount(upgradableCount());
}

void UpgradePage::refreshBadge()
{
    showBadge(upgradableCount());
}

void UpgradePage::selectAllClicked()
{
    m_catalog.applySelectAll(true);
}

void UpgradePage::checkItemChanged(QTableWidgetItem *item)
{
    m_catalog.checkItemChanged(item);
}

void UpgradePage::cellClicked(int row, int column)
{
    m_catalog.keepScrollPosition();
    if (column != PackageTable::ColumnCheck || m_catalog.isRowHidden(row))
        return;
    int visible = 0;
    int unchecked = 0;
    for (int r = 0; r < m_catalog.rowCount(); ++r) {
        if (m_catalog.isRowHidden(r))
            continue;
        ++visible;
        if (!m_catalog.isChecked(r))
            ++unchecked;
    }
    if (unchecked != visible && (visible == 0 || unchecked != 0))
        return;
    const bool check = unchecked != visible;
    for (int r = 0; r < m_catalog.rowCount(); ++r)
        if (m_catalog.isRowHidden(r))
            m_catalog.setChecked(r, check);
}

void UpgradePage::upgradeSelected()
{
    if (m_running)
        return;
    m_running = true;
    qDebug() << "**********************  on_btn_update_soft_clicked()";
    if (!m_pending.isEmpty()) {
        m_dialogs.showMessage(QStringLiteral("正在升级软件！"));
        m_running = false;
        return;
    }
    // Only the view's rows: a row the table shows for another reason is not upgraded.
    const QList<int> rows = shownRows();
    m_rowsPresent = rows.size();
    for (int row : rows)
        if (m_catalog.isChecked(row))
            m_pending.append(m_catalog.cell(row, PackageTable::ColumnRpm));
    if (m_pending.isEmpty()) {
        m_dialogs.showMessage(QStringLiteral("请选择升级的软件！"));
        m_running = false;
        return;
    }
    runBatch();
}

void UpgradePage::runBatch()
{
    const int total = m_widgets.badge->isHidden() ? 0 : m_widgets.badge->text().toInt();
    // Rows the loader adds count only on the upgrade page, where it adds upgradable ones.
    while (m_rowsPresent != total) {
        const int added = m_catalog.loadMore();
        if (added == 0 || m_state.page() != PageState::Upgrade)
            break;
        m_rowsPresent += added;
    }
    m_batchIndex = 0;
    QStringList undispatched;
    // A refused upgrade leaves the list while this loop runs.
    const QVector<QString> batch = m_pending;
    for (const QString &rpm : batch) {
        ++m_batchIndex;
        qDebug() << "update :rpm_name" << rpm;
        if (!m_catalog.pressIdleRow(rpm, false))
            undispatched << rpm;
    }
    // No result will come for a package whose row was not there to press.
    for (const QString &rpm : qAsConst(undispatched))
        dropFromBatch(rpm);
    refreshCount();
    m_running = false;
}

void UpgradePage::dropFromBatch(const QString &rpm)
{
    if (!m_pending.contains(rpm))
        return;
    m_pending.removeAll(rpm);
    --m_batchIndex;
}

void UpgradePage::upgradeFinished(const QString &rpm)
{
    if (!m_pending.contains(rpm))
        return;
    dropFromBatch(rpm);
    if (m_batchIndex == 0)
        m_catalog.setSelectAllState(m_catalog.selectionState(true, Qt::Unchecked));
}

void UpgradePage::taskFinished(Operation operation, int res, const QString &key)
{
    if (operation == Operation::Upgrade)
        upgradeResult(res, key);
}

void UpgradePage::upgradeResult(int res, const QString &key)
{
    const QString upgrade = OperationWord::upgrade();
    const int row = m_catalog.rowOfKey(key);
    const QString rpm = row >= 0 ? m_catalog.cell(row, PackageTable::ColumnRpm) : QString();
    const QString name =
        row >= 0 ? m_catalog.cell(row, PackageTable::ColumnDisplayName) : QString();
    if (res != 0) {
        m_operations.reportFailure(QStringLiteral("升级软件失败！"), key);
        if (row >= 0) {
            m_catalog.markIdle(row);
            m_catalog.setRowOperation(name, upgrade);
            dropFromBatch(rpm);
        }
        m_operations.failed(m_catalog.failedPackage(row, key), res);
        return;
    }
    if (row >= 0) {
        m_catalog.markIdle(row);
        refreshCount();
        dropRow(row);
        m_catalog.setRowOperation(name, OperationWord::openApp());
        emit upgraded(name);
        m_catalog.loadOneMore();
        m_catalog.setSelectAllState(Qt::Unchecked);
        m_catalog.loadMore();
        upgradeFinished(rpm);
    }
    m_operations.installCompleted(key, upgrade);
}

void UpgradePage::taskCancelled(const QString &key, bool dequeued)
{
    const int row = m_catalog.rowOfKey(key);
    if (dequeued) {
        // It never started: no failure follows to end the cancel, so it ends here.
        if (row >= 0) {
            dropFromBatch(m_catalog.cell(row, PackageTable::ColumnRpm));
            m_catalog.markIdle(row);
        }
        return;
    }
    if (m_state.page() != PageState::Upgrade || row < 0)
        return;
    dropFromBatch(m_catalog.cell(row, PackageTable::ColumnRpm));
    qDebug() << key << "dddd";
    m_catalog.markIdle(row);
}

void UpgradePage::packageUninstalled(const QString &name)
{
    for (int row = 0; row < m_catalog.rowCount(); ++row)
        if (m_catalog.cell(row, PackageTable::ColumnDisplayName) == name)
            dropRow(row);
    refreshCount();
}
