#include "storerows.h"

#include "records/paths.h"
#include "storage/database.h"
#include "storage/queryresult.h"
#include "tests/support/sqlrows.h"

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
    const QueryResult result(Paths::catalogDatabase(),
                             QStringLiteral("select sign from softwares where s_rpm=?"), {rpm});
    return result.rows() > 0 ? result.text(0, 0) : QStringLiteral("(no row)");
}

void addInstalledRow(const QString &name, const QString &version, const QString &release)
{
    exec_sql(utf8(Paths::localDatabase()).constData(),
             "insert into software(name,version,release_ver) values(?,?,?)", utf8(name).constData(),
             utf8(version).constData(), utf8(release).constData());
}

QStringList installedRows()
{
    QStringList rows = rowsOf(utf8(Paths::localDatabase()),
                              "select name,version,release_ver from software order by id");
    rows.replaceInStrings(QStringLiteral("|"), QStringLiteral(" "));
    return rows;
}

} // namespace StoreRows
