#include "storage/queryresult.h"

#include "storage/statement.h"

#include <sqlite3.h>

QueryResult::QueryResult(const QString &database, const QString &sql, const QStringList &parameters)
{
    const QByteArray file = database.toUtf8();
    const QByteArray text = sql.toUtf8();
    Statement statement(file.constData(), text.constData());
    if (!statement.isValid())
        return;
    QVector<QByteArray> values;
    for (const QString &parameter : parameters)
        values << parameter.toUtf8();
    // Missing parameters bind as empty texts, as the C functions read them.
    const int count = statement.parameterCount();
    for (int i = 1; i <= count; ++i)
        statement.bindText(i, i <= values.size() ? values.at(i - 1).constData() : "");

    const int columns = statement.columnCount();
    int rows = 0;
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
        for (int k = 0; k < columns; ++k) {
            m_starts << m_cells.size();
            m_cells.append(statement.text(k), statement.textBytes(k));
        }
        ++rows;
    }
    m_starts << m_cells.size();
    if (rc != SQLITE_DONE || columns == 0) {
        m_cells.clear();
        m_starts.clear();
        return;
    }
    m_rows = rows;
    m_columns = columns;
}

QString QueryResult::text(int row, int column) const
{
    const int cell = row * m_columns + column;
    const int start = m_starts.at(cell);
    return QString::fromUtf8(m_cells.constData() + start, m_starts.at(cell + 1) - start);
}

QStringList QueryResult::column(int column) const
{
    QStringList cells;
    cells.reserve(m_rows);
    for (int row = 0; row < m_rows; ++row)
        cells << text(row, column);
    return cells;
}
