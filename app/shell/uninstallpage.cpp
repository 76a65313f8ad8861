#include "shell/uninstallpage.h"

#include "facade/catalogreader.h"
#include "records/operationword.h"
#include "records/operinfo.h"
#include "records/paths.h"
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
#include <QSet>
#include <QStackedWidget>
#include <QTableWidget>

namespace
{

constexpr int FirstBatch = 16;
constexpr int ScrollBatch = 11;
// A result list shows rows while fewer than this many are shown.
constexpr int ResultRows = 15;

} // namespace

UninstallPage::UninstallPage(const Widgets &widgets, CatalogReader &reader, const RowFactory &rows,
                             SearchBox &search, PageState &state, DialogPresenter &dialogs,
                             OperationController &operations, const CatalogPage &catalog)
    : m_widgets(widgets), m_reader(reader), m_rows(rows), m_search(search), m_state(state),
      m_dialogs(dialogs), m_operations(operations), m_catalog(catalog), m_removalQuestion(reader),
      m_table(widgets.table, widgets.selectAll,
              "***********delPackageScrollChangedSlot***************value=%d,m_delPackage_max=%d,"
              "del_data.size=%d")
{
    m_operations.setRequests(m_widgets.table, this);
}

UninstallPage::~UninstallPage()
{
    if (m_operations.requests(m_widgets.table) == this)
        m_operations.setRequests(m_widgets.table, nullptr);
}

void UninstallPage::setUpTable(QTableWidget *table, QCheckBox *selectAll)
{
    PackageColumns::configure(table, PackageColumns::View::Uninstall);
    table->setFocusPolicy(Qt::NoFocus);
    selectAll->setCheckState(Qt::Unchecked);
}

void UninstallPage::showInstalledCount(int count)
{
    m_installedTotal = count;
    m_widgets.countLine->setText(QStringLiteral("总共") + QString::number(count) +
                                 QStringLiteral("款软件可卸载"));
}

bool UninstallPage::isShown() const
{
    return m_widgets.pages->currentWidget() == m_widgets.page;
}

void UninstallPage::enter()
{
    m_widgets.pages->setCurrentWidget(m_widgets.page);
    m_search.empty();
    m_search.run();

    QTableWidget *widget = table();
    m_state.setCurrentTable(widget);
    const QVector<RpmData> list = m_reader.list(QueryMode::Installed, QString(), QString());
    showInstalledCount(list.size());
    if (!m_table.isBuilt()) {
        build();
        m_table.setBuilt();
    }
    qDebug() << "*************btn_packageDelete************* " << list.size();

    for (int row = widget->rowCount() - 1; row >= 0; --row)
        if (!PackageTable::hasItem(widget, row, PackageTable::ColumnDisplayName))
            widget->removeRow(row);
    QSet<QString> known;
    for (int row = 0; row < widget->rowCount(); ++row)
        known.insert(PackageTable::text(widget, row, PackageTable::ColumnDisplayName));
    for (const RpmData &record : qAsConst(waiting()))
        known.insert(record.m_name);
    for (const RpmData &record : list) {
        if (known.contains(record.m_name))
            continue;
        m_table.appendWaiting(record);
        known.insert(record.m_name);
    }
    if (!waiting().isEmpty()) {
        const PackageTable::OutOfSight building(widget);
        loadAllWaiting();
    }
    // The rows were loaded here, not by a scroll: the user's next scroll is not taken back.
    m_table.clearScrollRestore();
}

void UninstallPage::search(const QString &text)
{
    if (!isShown())
        return;
    m_state.setCurrentTable(table());
    const QVector<RpmData> results = m_reader.list(QueryMode::Installed, QString(), text);
    const bool found = !results.isEmpty();
    if (!found)
        m_widgets.emptyText->setText(ShellTexts::noResult());
    m_widgets.emptyText->setVisible(!found);
    table()->setVisible(found);
    m_widgets.selectAll->setVisible(found);
    m_widgets.batchButton->setVisible(found);
    showResults(results);
}

void UninstallPage::scrolled(int value)
{
    m_table.scrolled(value, [this] { loadMore(); });
}

void UninstallPage::loadAllWaiting()
{
    // Every waiting name's catalog record, read at once rather than row by row.
    QSet<QString> names;
    for (const RpmData &record : qAsConst(waiting()))
        names.insert(record.m_name);
    m_prefetched = m_reader.records(names);
    // Everything that waits becomes a row now, batch by batch as the scroll loader does.
    while (!waiting().isEmpty()) {
        const int before = waiting().size();
        loadMore();
        if (waiting().size() == before)
            break;
    }
    m_prefetched.clear();
}

void UninstallPage::build()
{
    qDebug() << "**************************  getDeletePackage()";
    table()->clearContents();
    m_table.setWaiting(m_reader.list(QueryMode::Installed, QString(), QString()));
    showInstalledCount(waiting().size());
    writeFirstBatch();
}

void UninstallPage::writeFirstBatch()
{
    m_table.takeWaiting(FirstBatch, {}, [this](const RpmData &record) {
        m_rows.appendRow(table(), record, false);
        qDebug() << "icon name=" << Paths::iconDirectory() + record.m_icon
                 << "  icon star = " << record.m_star;
        return true;
    });
}

int UninstallPage::appendRow(const QString &name, QTableWidget *widget)
{
    qDebug() << "inserDeleteContent " << name;
    const bool checked = m_selectAll || m_widgets.selectAll->checkState() == Qt::Checked;
    const auto prefetched = m_prefetched.constFind(name);
    const RpmData record = prefetched != m_prefetched.cend() ? *prefetched : m_reader.record(name);
    if (record.m_name.isEmpty())
        return -1;
    return m_rows.appendRow(widget, record, checked);
}

void UninstallPage::loadMore()
{
    m_table.keepScrollPosition();
    const QString text = m_search.text();
    m_table.takeWaiting(
        ScrollBatch,
        [&](const RpmData &record) { return text.isEmpty() || record.m_name.contains(text); },
        // A name the catalog no longer knows leaves the waiting list without a row.
        [this](const RpmData &record) { return appendRow(record.m_name, table()) >= 0; });
}

void UninstallPage::showResults(const QVector<RpmData> &results)
{
    QTableWidget *widget = table();
    QHash<QString, QVector<int>> rowsByName =
        PackageTable::rowsByText(widget, PackageTable::ColumnDisplayName);
    QSet<int> shownRows;
    int shown = 0;
    LazyTable::Taking taking(m_table);
    int nextWaiting = 0;
    for (const RpmData &record : results) {
        const QVector<int> rows = rowsByName.value(record.m_name);
        if (!rows.isEmpty()) {
            shownRows.insert(rows.first());
            ++shown;
        }
        while (shown <= ResultRows) {
            const int index = m_table.findWaiting(record.m_name, record.m_rpm, nextWaiting);
            if (index < 0)
                break;
            nextWaiting = index + 1;
            const int added = appendRow(record.m_name, widget);
            taking.take(index);
            if (added < 0)
                break;
            rowsByName[record.m_name].append(added);
            shownRows.insert(added);
            ++shown;
        }
    }
    PackageTable::showOnly(widget, shownRows);
}

void UninstallPage::refreshRow(const QString &name)
{
    QTableWidget *widget = table();
    const int row = PackageTable::findRow(widget, PackageTable::ColumnDisplayName, name);
    if (row >= 0) {
        widget->removeRow(row);
    } else {
        for (int i = 0; i < waiting().size(); ++i) {
            if (waiting().at(i).m_name == name) {
                m_table.removeWaitingAt(i);
                break;
            }
        }
    }
    appendRow(name, widget);
}

void UninstallPage::selectAllClicked()
{
    m_selectAll = m_table.applySelectAll(false);
}

void UninstallPage::checkItemChanged(QTableWidgetItem *item)
{
    m_table.checkItemChanged(item);
}

void UninstallPage::uninstallSelected()
{
    if (!m_pending.isEmpty()) {
        m_dialogs.showMessage(QStringLiteral("正在执行卸载软件！"));
        return;
    }
    QTableWidget *widget = table();
    for (int row = widget->rowCount() - 1; row >= 0; --row)
        if (PackageTable::isChecked(widget, row))
            m_pending.append(PackageTable::text(widget, row, PackageTable::ColumnRpm));
    qDebug() << "************ uninstall*************all_data size=" << m_catalog.waiting().size();
    if (m_pending.isEmpty()) {
        m_dialogs.showMessage(QStringLiteral("请选择卸载的软件！"));
        return;
    }
    // "全选" confirms the packages without rows as well.
    QVector<QString> confirmed = m_pending;
    if (m_selectAll)
        for (const RpmData &record : qAsConst(waiting()))
            confirmed.append(record.m_rpm);
    // The batch is not confirmed until the question, asked once rpm has answered, is.
    m_batchAsked = true;
    m_removalQuestion.ask(this, QStringLiteral("确定要卸载所有已勾选软件吗？"), confirmed, true,
                          [this](const QString &question) {
                              m_batchAsked = false;
                              confirmationAnswered(m_dialogs.confirm(question) ? 1 : 0);
                          });
}

void UninstallPage::confirmationAnswered(int result)
{
    if (result == 0) {
        m_pending.clear();
        m_selectAll = false;
        return;
    }
    qDebug() << "************ exec uninstall*************all_data size="
             << m_catalog.waiting().size() << (m_selectAll ? "true" : "false");
    if (m_selectAll && !waiting().isEmpty()) {
        // Selected by "全选" as much as the rows on screen: confirmed with them.
        for (const RpmData &record : qAsConst(waiting()))
            m_pending.append(record.m_rpm);
        loadAllWaiting();
    }
    m_selectAll = false;
    dispatchBatch();
}

void UninstallPage::dispatchBatch()
{
    m_batchIndex = 0;
    QTableWidget *widget = table();
    QStringList undispatched;
    // A refused uninstall leaves the list while this loop runs.
    const QVector<QString> batch = m_pending;
    for (const QString &rpm : batch) {
        ++m_batchIndex;
        QString pressed;
        if (RowFactory::pressIdleRow(widget, rpm, true, &pressed))
            qDebug() << "item object=" << pressed;
        else
            undispatched << rpm;
    }
    // No result will come for a package whose row was not there to press.
    for (const QString &rpm : qAsConst(undispatched))
        dropFromBatch(rpm);
}

void UninstallPage::dropFromBatch(const QString &rpm)
{
    if (!m_pending.contains(rpm))
        return;
    m_pending.removeAll(rpm);
    --m_batchIndex;
}

bool UninstallPage::uninstallFinished(const QString &rpm)
{
    showInstalledCount(m_installedTotal - 1);
    const bool batchEntry = m_pending.contains(rpm);
    dropFromBatch(rpm);
    return batchEntry && m_batchIndex == 0;
}

void UninstallPage::selectAllFollowsRows()
{
    m_table.setSelectAllState(m_table.selectionState(false, Qt::Checked));
}

bool UninstallPage::request(int row, Operation operation, const QString &rpm, bool mayProceed)
{
    if (operation != Operation::Uninstall)
        return false;
    m_table.keepScrollPosition();
    qDebug() << "[oper==卸载] delete_select_num = " << m_pending.size()
             << (isBatchRunning() ? "true" : "false");
    // A package of a confirmed batch was asked for with the batch.
    if (m_pending.contains(rpm) && !m_batchAsked)
        return proceed(row, rpm, mayProceed);
    // Its question is on the way: a second click asks nothing new.
    if (m_asking.contains(rpm))
        return true;
    const int target = rowOf(row, rpm);
    if (target < 0)
        return false;
    m_selectAll = false;
    qDebug() << "******* dialog->exec() == QDialog::Accepted    delete_soft = ";
    m_asking.insert(rpm);
    // Busy while rpm is asked: the batch leaves the row alone, the row shows it waits.
    PackageTable::setText(table(), target, PackageTable::ColumnState, ShellTexts::busy());
    m_removalQuestion.ask(this, QStringLiteral("确定要卸载吗？"), {rpm}, false,
                          [this, rpm, mayProceed](const QString &question) {
                              const bool yes = m_dialogs.confirm(question);
                              m_asking.remove(rpm);
                              if (yes)
                                  proceed(-1, rpm, mayProceed);
                              else
                                  backToIdle(rpm);
                          });
    return true;
}

int UninstallPage::rowOf(int row, const QString &rpm) const
{
    QTableWidget *widget = table();
    // Rows above it may have gone since the controller was made, or while rpm or the user was
    // asked.
    if (row < 0 || row >= widget->rowCount() ||
        PackageTable::text(widget, row, PackageTable::ColumnRpm) != rpm)
        row = PackageTable::findRow(widget, PackageTable::ColumnRpm, rpm);
    return row;
}

void UninstallPage::backToIdle(const QString &rpm)
{
    QTableWidget *widget = table();
    const int row = rowOf(-1, rpm);
    if (row < 0)
        return;
    PackageTable::setText(widget, row, PackageTable::ColumnState, ShellTexts::idle());
    if (InstallItem *item = RowFactory::controllerAt(widget, row))
        item->execTaskSlot(OperationWord::uninstall(), -1, QString(), QString());
}

bool UninstallPage::proceed(int row, const QString &rpm, bool mayProceed)
{
    qDebug() << "[oper==卸载] delete_soft =" << (isBatchRunning() ? "true" : "false")
             << m_pending.size();
    const int target = rowOf(row, rpm);
    if (target < 0)
        return false;
    QTableWidget *widget = table();
    const OperInfo task{OperationWord::uninstall(),
                        PackageTable::text(widget, target, PackageTable::ColumnType),
                        PackageTable::text(widget, target, PackageTable::ColumnRpm),
                        PackageTable::text(widget, target, PackageTable::ColumnKey)};
    const QString name = PackageTable::text(widget, target, PackageTable::ColumnDisplayName);

    if (!mayProceed) {
        // Before the message: rows may be removed while it is open.
        dropFromBatch(task.m_rpmname);
        backToIdle(rpm);
        m_dialogs.showMessage(name + QStringLiteral("正在运行！"), true);
        return false;
    }
    PackageTable::setText(widget, target, PackageTable::ColumnState, ShellTexts::busy());
    m_operations.submitUninstall(task);
    return true;
}

void UninstallPage::taskStarted(Operation operation)
{
    if (operation == Operation::Uninstall)
        m_table.restoreScrollPosition();
}

void UninstallPage::taskFinished(Operation operation, int res, const QString &key)
{
    if (operation == Operation::Uninstall)
        uninstallResult(res, key);
}

void UninstallPage::uninstallResult(int res, const QString &key)
{
    QTableWidget *widget = table();
    const int row = PackageTable::findRow(widget, PackageTable::ColumnKey, key);
    if (row < 0) {
        if (res != 0)
            m_dialogs.showMessage(QStringLiteral("卸载软件失败！"));
        return;
    }
    const QString rpm = PackageTable::text(widget, row, PackageTable::ColumnRpm);
    const QString name = PackageTable::text(widget, row, PackageTable::ColumnDisplayName);
    PackageTable::setText(widget, row, PackageTable::ColumnState, ShellTexts::idle());
    if (res != 0) {
        if (InstallItem *item = RowFactory::controllerAt(widget, row))
            item->execTaskSlot(OperationWord::uninstall(), -1, QString(), QString());
        dropFromBatch(rpm);
        m_dialogs.showMessage(QStringLiteral("卸载软件失败！"));
        return;
    }
    emit uninstalled(name);
    // "全选" follows the rows while the last one of the batch is still there.
    if (uninstallFinished(rpm))
        selectAllFollowsRows();
    m_operations.forgetDownload(key);
    widget->removeRow(row);
}

void UninstallPage::packageInstalled(const QString &name)
{
    refreshRow(name);
    addInstalled(1);
}
