#pragma once

#include <QPointer>
#include <QTableWidget>
#include <QVector>

// A table widget that shows the widgets of its cells only while they are in sight. Qt shows
// and places the cell widget of every row that is not hidden, wherever it lies; with
// thousands of them every repaint walks them all (QWidgetPrivate::subtractOpaqueSiblings),
// and every show of the table sends each one an event. Here the rows out of sight keep their
// widgets hidden until they are scrolled to, and placing them costs what is in sight.
class CellWidgetTable : public QTableWidget
{
    Q_OBJECT

public:
    explicit CellWidgetTable(QWidget *parent = nullptr);

    // True when the widget lies in a cell of such a table that is not placing it in sight
    // just now: only the table shows its cell widgets.
    static bool holdsBack(const QWidget *cellWidget);

protected:
    void updateEditorGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Widgets this table shows, and widgets just given to a cell, which Qt shows at once.
    QVector<QPointer<QWidget>> m_shown;
    QVector<QPointer<QWidget>> m_fresh;
    bool m_placing = false;
};
