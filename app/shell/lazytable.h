#pragma once

#include "records/rpmdata.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

#include <functional>

class QCheckBox;
class QTableWidget;
class QTableWidgetItem;

// One package table that is filled lazily, with the "全选" box that goes with it: what the
// catalog and the uninstall tables share, written once.
class LazyTable
{
public:
    // scrollLog is the system-log line of a scroll move: value, maximum, records waiting.
    LazyTable(QTableWidget *table, QCheckBox *selectAll, const char *scrollLog);

    QTableWidget *table() const { return m_table; }
    QCheckBox *selectAllBox() const { return m_selectAll; }

    // Records that have no row yet.
    const QVector<RpmData> &waiting() const { return m_waiting; }
    void setWaiting(const QVector<RpmData> &records);
    void appendWaiting(const RpmData &record);
    void removeWaitingAt(int index);
    void replaceWaitingAt(int index, const RpmData &record);
    // A waiting record with this name and package string not taken yet, or -1. The search
    // starts at from and wraps around: a result list comes in the order of the waiting
    // records, so a caller that passes the last index found plus one walks them once.
    int findWaiting(const QString &name, const QString &rpm, int from = 0) const;

    // Waiting records taken by one loop, removed together when it ends: removing each at
    // once would move every record behind it, for every record taken.
    class Taking
    {
    public:
        explicit Taking(LazyTable &table) : m_table(table) {}
        ~Taking();
        Taking(const Taking &) = delete;
        Taking &operator=(const Taking &) = delete;
        void take(int index);

    private:
        LazyTable &m_table;
    };

    // Takes up to limit waiting records that pass the filter (all when it is empty), front to
    // back, and hands each to add. A record add refuses (false) leaves the list all the same
    // but does not count. Returns how many add took.
    using Filter = std::function<bool(const RpmData &)>;
    int takeWaiting(int limit, const Filter &filter,
                    const std::function<bool(const RpmData &)> &add);

    bool isBuilt() const { return m_built; }
    void setBuilt() { m_built = true; }

    // Rows inserted or shown move the scroll bar: the next move is taken back.
    void keepScrollPosition() { m_restoreScroll = true; }
    void clearScrollRestore() { m_restoreScroll = false; }
    int scrollValue() const { return m_scrollValue; }
    // Puts the scroll bar back where the user left it.
    void restoreScrollPosition();
    // A scroll bar move: one of ours is taken back; the user's is remembered, and at the
    // bottom, with records waiting, loadMore runs.
    void scrolled(int value, const std::function<void()> &loadMore);

    // "全选" clicked: a partly checked box becomes checked and the rows (only the visible ones
    // when visibleOnly) take its state; true when it is checked.
    bool applySelectAll(bool visibleOnly);
    // A check item changed: the box follows the visible rows.
    void checkItemChanged(QTableWidgetItem *item);
    // Checked when every counted row is ticked, unchecked when none is, partly otherwise;
    // empty when no row is counted.
    Qt::CheckState selectionState(bool visibleOnly, Qt::CheckState empty) const;
    void setSelectAllState(Qt::CheckState state);

private:
    QTableWidget *m_table;
    QCheckBox *m_selectAll;
    const char *m_scrollLog;
    QVector<RpmData> m_waiting;
    // How many waiting records not taken carry each name: a result list asks for many names,
    // most of them with rows already or just taken, and a look at this spares a pass over
    // thousands of records.
    QHash<QString, int> m_waitingNames;
    QSet<int> m_taken;
    int m_scrollValue = 0;
    bool m_restoreScroll = false;
    bool m_built = false;
};
