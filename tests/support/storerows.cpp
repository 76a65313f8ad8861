#include "storerows.h"

#include "records/paths.h"
#include "sqlrows.h"
#include "storage/database.h"
#include "storage/queryresult.h"

#include <sqlite3.h>

namespace StoreRows
{

static QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

bool addCatalogRow(const Row &columns)
{
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    const QByteArray sql =
        utf8(QStringLiteral("insert into softwares(") + columns.keys().join(QLatin1Char(',')) +
             QStringLiteral(") values(") + marks.join(QLatin1Char(',')) + QLatin1Char(')'));
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    bool ok = sqlite3_open(utf8(Paths::catalogDatabase()).constData(), &db) == SQLITE_OK &&
              sqlite3_busy_timeout(db, 30000) == SQLITE_OK &&
              sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) == SQLITE_OK;
    int index = 1;
    for (const QString &value : columns) {
        const QByteArray bytes = utf8(value);
        ok = ok && (value.isNull() ? sqlite3_bind_null(stmt, index)
                                   : sqlite3_bind_text(stmt, index, bytes.constData(), bytes.size(),
                                                       SQLITE_TRANSIENT)) == SQLITE_OK;
        ++index;
    }
    ok = ok && sqlite3_step(stmt) == SQLITE_DONE;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return ok;
}

bool addCatalogRow(const QString &rpm, const QString &icon, const QString &sign,
                   const QString &deps)
{
    return addCatalogRow({{QStringLiteral("s_name"), icon},
                          {QStringLiteral("s_icon"), icon},
                          {QStringLiteral("s_rpm"), rpm},
                          {QStringLiteral("s_rpmdeps"), deps.isNull() ? QStringLiteral("") : deps},
                          {QStringLiteral("sign"), sign}});
}

QString sign(const QString &rpm)
{
    const QueryResult result(Paths::catalogDatabase(),
                             QStringLiteral("select sign from softwares where s_rpm=?"), {rpm});
    return result.rows() > 0 ? result.text(0, 0) : QStringLiteral("(no row)");
}

bool addInstalledRow(const QString &name, const QString &version, const QString &release)
{
    return exec_sql(utf8(Paths::localDatabase()).constData(),
                    "insert into software(name,version,release_ver) values(?,?,?)",
                    utf8(name).constData(), utf8(version).constData(),
                    utf8(release).constData()) == 0;
}

QStringList installedRows()
{
    QStringList rows = rowsOf(utf8(Paths::localDatabase()),
                              "select name,version,release_ver from software order by id");
    rows.replaceInStrings(QStringLiteral("|"), QStringLiteral(" "));
    return rows;
}

} // namespace StoreRows
