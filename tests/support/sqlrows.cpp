#include "sqlrows.h"

#include "storage/queryresult.h"

QStringList rowsOf(const QByteArray &database, const char *sql)
{
    const QueryResult result(QString::fromUtf8(database), QString::fromUtf8(sql));
    QStringList lines;
    for (int r = 0; r < result.rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < result.columns(); ++c)
            cells << result.text(r, c);
        lines << cells.join(QLatin1Char('|'));
    }
    return lines;
}
