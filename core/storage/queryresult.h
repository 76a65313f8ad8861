#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// The rows of one query, read as exec_select reads them (a connection of its own, the same
// waits on a locked file), kept as text in one block instead of one copy per cell. Empty when
// no row matched and on every failure. Parameters are bound to the "?" placeholders in order.
class QueryResult
{
public:
    QueryResult(const QString &database, const QString &sql,
                const QStringList &parameters = QStringList());

    int rows() const { return m_rows; }
    int columns() const { return m_columns; }
    QString text(int row, int column) const;
    // Every row's cell of one column, top to bottom.
    QStringList column(int column) const;

private:
    QByteArray m_cells;
    // Where each cell starts in m_cells; one more entry marks the end of the last.
    QVector<int> m_starts;
    int m_rows = 0;
    int m_columns = 0;
};
