#include "shell/lazytable.h"

#include "shell/packagetable.h"

#include <QCheckBox>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTableWidget>

#include <syslog.h>

LazyTable::LazyTable(QTableWidget *table, QCheckBox *selectAll, const char *scrollLog)
    : m_table(table), m_selectAll(selectAll), m_scrollLog(scrollLog)
{
}

void LazyTable::setWaiting(const QVector<RpmData> &records)
{
    m_waiting = records;
    m_taken.clear();
    m_waitingNames.clear();
    for (const RpmData &record : records)
        ++m_waitingNames[record.m_name];
}

void LazyTable::appendWaiting(const RpmData &record)
{
    m_waiting.append(record);
    ++m_waitingNames[record.m_name];
}

void LazyTable::removeWaitingAt(int index)
{
    const QString name = m_waiting.at(index).m_name;
    if (--m_waitingNames[name] == 0)
        m_waitingNames.remove(name);
    m_waiting.remove(index);
}

void LazyTable::replaceWaitingAt(int index, const RpmData &record)
{
    removeWaitingAt(index);
    m_waiting.insert(index, record);
    ++m_waitingNames[record.m_name];
}

int LazyTable::findWaiting(const QString &name, const QString &rpm, int from) const
{
    if (!m_waitingNames.contains(name))
        return -1;
    const int count = m_waiting.size();
    from = qBound(0, from, count);
    for (int step = 0; step < count; ++step) {
        const int i = (from + step) % count;
        const RpmData &record = m_waiting.at(i);
        if (record.m_name == name && record.m_rpm == rpm && !m_taken.contains(i))
            return i;
    }
    return -1;
}

void LazyTable::Taking::take(int index)
{
    if (m_table.m_taken.contains(index))
        return;
    m_table.m_taken.insert(index);
    QHash<QString, int> &names = m_table.m_waitingNames;
    const QString &name = m_table.m_waiting.at(index).m_name;
    if (--names[name] == 0)
        names.remove(name);
}

LazyTable::Taking::~Taking()
{
    QSet<int> &taken = m_table.m_taken;
    if (taken.isEmpty())
        return;
    QVector<RpmData> &waiting = m_table.m_waiting;
    int kept = 0;
    // Moved, not copied: the waiting list is most of the catalog, a record eleven strings.
    for (int i = 0; i < waiting.size(); ++i)
        if (!taken.contains(i)) {
            if (kept != i)
                waiting[kept] = std::move(waiting[i]);
            ++kept;
        }
    waiting.resize(kept);
    taken.clear();
}

int LazyTable::takeWaiting(int limit, const Filter &filter,
                           const std::function<bool(const RpmData &)> &add)
{
    int added = 0;
    Taking taking(*this);
    for (int i = 0; i < m_waiting.size() && added < limit; ++i) {
        // A copy: add may read the waiting list.
        const RpmData record = m_waiting.at(i);
        if (filter && !filter(record))
            continue;
        if (add(record))
            ++added;
        taking.take(i);
    }
    return added;
}

void LazyTable::restoreScrollPosition()
{
    m_table->verticalScrollBar()->setValue(m_scrollValue);
}

void LazyTable::scrolled(int value, const std::function<void()> &loadMore)
{
    QScrollBar *bar = m_table->verticalScrollBar();
    if (m_restoreScroll) {
        m_restoreScroll = false;
        bar->setValue(m_scrollValue);
        return;
    }
    m_scrollValue = value;
    syslog(LOG_ERR, m_scrollLog, value, bar->maximum(), m_waiting.size());
    if (value == bar->maximum() && !m_waiting.isEmpty()) {
        m_restoreScroll = true;
        loadMore();
    }
}

bool LazyTable::applySelectAll(bool visibleOnly)
{
    if (m_selectAll->checkState() == Qt::PartiallyChecked)
        m_selectAll->setCheckState(Qt::Checked);
    const bool checked = m_selectAll->checkState() == Qt::Checked;
    // The box follows the user's ticks, not ours.
    const QSignalBlocker blocker(m_table);
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (!visibleOnly || !m_table->isRowHidden(row))
            PackageTable::setCheckItem(m_table, row, checked);
    return checked;
}

void LazyTable::checkItemChanged(QTableWidgetItem *item)
{
    if (!item || item->column() != PackageTable::ColumnCheck)
        return;
    setSelectAllState(selectionState(true, Qt::Checked));
}

Qt::CheckState LazyTable::selectionState(bool visibleOnly, Qt::CheckState empty) const
{
    int rows = 0;
    int checked = 0;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (visibleOnly && m_table->isRowHidden(row))
            continue;
        ++rows;
        if (PackageTable::isChecked(m_table, row))
            ++checked;
    }
    if (rows == 0)
        return empty;
    if (checked == rows)
        return Qt::Checked;
    return checked == 0 ? Qt::Unchecked : Qt::PartiallyChecked;
}

void LazyTable::setSelectAllState(Qt::CheckState state)
{
    m_selectAll->setCheckState(state);
}
