#include "storerows.h"

#include "records/paths.h"
#include "storage/database.h"

namespace StoreRows
{

static QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

void addCatalogRow(const QString &rpm, const QString &icon, const QString &sign,
                   const QString &deps)
{
    exec_sql(utf8(Paths::catalogDatabase()).constData(),
             "insert into softwares(s_name,s_icon,s_rpm,s_rpmdeps,sign) values(?,?,?,?,?)",
             utf8(icon).constData(), utf8(icon).constData(), utf8(rpm).constData(),
             utf8(deps).constData(), utf8(sign).constData());
}

QString sign(const QString &rpm)
{
    int rows = 0;
    int columns = 0;
    char **cells = exec_select(utf8(Paths::catalogDatabase()).constData(), &rows, &columns,
                               "select sign from softwares where s_rpm=?", utf8(rpm).constData());
    const QString value = cells ? QString::fromUtf8(cells[0]) : QStringLiteral("(no row)");
    free_result(cells);
    return value;
}

void addInstalledRow(const QString &name, const QString &version, const QString &release)
{
    exec_sql(utf8(Paths::localDatabase()).constData(),
             "insert into software(name,version,release_ver) values(?,?,?)", utf8(name).constData(),
             utf8(version).constData(), utf8(release).constData());
}

QStringList installedRows()
{
    int rows = 0;
    int columns = 0;
    char **cells = exec_select(utf8(Paths::localDatabase()).constData(), &rows, &columns,
                               "select name,version,release_ver from software order by id");
    QStringList result;
    for (int r = 0; r < rows; ++r)
        result << QStringLiteral("%1 %2 %3")
                      .arg(QString::fromUtf8(cells[r * 3]), QString::fromUtf8(cells[r * 3 + 1]),
                           QString::fromUtf8(cells[r * 3 + 2]));
    free_result(cells);
    return result;
}

} // namespace StoreRows
