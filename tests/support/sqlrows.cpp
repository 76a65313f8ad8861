#include "sqlrows.h"

#include "storage/database.h"

QStringList rowsOf(const QByteArray &database, const char *sql)
{
    int rows = 0;
    int columns = 0;
    char **result = exec_select(database.constData(), &rows, &columns, sql);
    QStringList lines;
    for (int r = 0; result && r < rows; ++r) {
        QStringList cells;
        for (int c = 0; c < columns; ++c)
            cells << QString::fromUtf8(result[r * columns + c]);
        lines << cells.join(QLatin1Char('|'));
    }
    free_result(result);
    return lines;
}
