#include "widgets/cellwidgettable.h"

#include <QChildEvent>
#include <QScopedValueRollback>
#include <QSet>

CellWidgetTable::CellWidgetTable(QWidget *parent) : QTableWidget(parent)
{
    viewport()->installEventFilter(this);
}

bool CellWidgetTable::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == viewport() && event->type() == QEvent::ChildAdded) {
        if (auto *widget = qobject_cast<QWidget *>(static_cast<QChildEvent *>(event)->child()))
            m_fresh.append(widget);
    }
    return QTableWidget::eventFilter(watched, event);
}

bool CellWidgetTable::holdsBack(const QWidget *cellWidget)
{
    const QWidget *viewport = cellWidget->parentWidget();
    const auto *table =
        viewport ? qobject_cast<const CellWidgetTable *>(viewport->parentWidget()) : nullptr;
    return table && table->viewport() == viewport && !table->m_placing;
}

void CellWidgetTable::updateEditorGeometries()
{
    const QScopedValueRollback<bool> placing(m_placing, true);
    QSet<QWidget *> inSight;
    const QRect sight = viewport()->rect();
    const int firstRow = rowAt(sight.top());
    int lastRow = rowAt(sight.bottom());
    if (lastRow < 0)
        lastRow = rowCount() - 1;
    const int firstColumn = columnAt(sight.left());
    int lastColumn = columnAt(sight.right());
    if (lastColumn < 0)
        lastColumn = columnCount() - 1;
    if (firstRow >= 0 && firstColumn >= 0) {
        for (int row = firstRow; row <= lastRow; ++row) {
            if (isRowHidden(row))
                continue;
            for (int column = firstColumn; column <= lastColumn; ++column) {
                QWidget *widget = cellWidget(row, column);
                const QRect cell = widget ? visualRect(model()->index(row, column)) : QRect();
                if (!cell.isValid())
                    continue;
                widget->setGeometry(cell);
                widget->show();
                inSight.insert(widget);
            }
        }
    }
    // What was shown or just placed in a cell and is no longer in sight.
    for (const QVector<QPointer<QWidget>> *list : {&m_shown, &m_fresh})
        for (const QPointer<QWidget> &widget : *list)
            if (widget && !inSight.contains(widget))
                widget->hide();
    m_fresh.clear();
    m_shown.clear();
    for (QWidget *widget : qAsConst(inSight))
        m_shown.append(widget);
}

void CellWidgetTable::scrollContentsBy(int dx, int dy)
{
    QTableWidget::scrollContentsBy(dx, dy);
    // The rows scrolled into sight show their widgets.
    updateEditorGeometries();
}
