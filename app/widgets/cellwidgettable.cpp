#include "widgets/cellwidgettable.h"

CellWidgetTable::CellWidgetTable(QWidget *parent) : QTableWidget(parent) {}

void CellWidgetTable::updateEditorGeometries()
{
    const QRect sight = viewport()->rect();
    for (int row = 0; row < rowCount(); ++row) {
        for (int column = 0; column < columnCount(); ++column) {
            QWidget *widget = cellWidget(row, column);
            if (!widget)
                continue;
            // Invalid for a hidden row or column.
            const QRect cell = visualRect(model()->index(row, column));
            if (cell.isValid() && cell.intersects(sight)) {
                widget->setGeometry(cell);
                widget->show();
            } else {
                widget->hide();
            }
        }
    }
}

void CellWidgetTable::scrollContentsBy(int dx, int dy)
{
    QTableWidget::scrollContentsBy(dx, dy);
    // The rows scrolled into sight show their widgets.
    updateEditorGeometries();
}
