#pragma once

#include <QTableWidget>

// A table widget that shows the widgets of its cells only while they are in sight. Qt shows
// and places the cell widget of every row that is not hidden, wherever it lies; with
// thousands of them every repaint walks them all (QWidgetPrivate::subtractOpaqueSiblings),
// and every show of the table sends each one an event. Here the rows out of sight keep their
// widgets hidden until they are scrolled to.
class CellWidgetTable : public QTableWidget
{
    Q_OBJECT

public:
    explicit CellWidgetTable(QWidget *parent = nullptr);

protected:
    void updateEditorGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
};
