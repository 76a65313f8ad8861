#include "sync/catalogsql.h"

#include "records/quoting.h"

#include <QStringList>

namespace CatalogSql
{

static QString literal(const QString &value)
{
    return QLatin1Char('\'') + Quoting::sqlLiteral(value) + QLatin1Char('\'');
}

QString insertPackage(const CatalogPackage &package)
{
    QStringList columns;
    QStringList values;
    for (const CatalogPackage::Column &column : CatalogPackage::columns()) {
        columns << QLatin1String(column.column);
        values << literal(package.*column.field);
    }
    return QStringLiteral("insert into softwares(") + columns.join(QLatin1Char(',')) +
           QStringLiteral(") values(") + values.join(QLatin1Char(',')) + QStringLiteral(");");
}

QString updatePackage(const CatalogPackage &package)
{
    QStringList assignments;
    // The first column is the key, s_name.
    const auto &columns = CatalogPackage::columns();
    for (int i = 1; i < columns.size(); ++i)
        assignments << QLatin1String(columns[i].column) + QLatin1Char('=') +
                           literal(package.*columns[i].field);
    return QStringLiteral("update softwares set ") + assignments.join(QLatin1Char(',')) +
           QStringLiteral(" where s_name=") + literal(package.name) + QLatin1Char(';');
}

QString deletePackage(const QString &name)
{
    return QStringLiteral("delete from softwares where s_name=") + literal(name) + QLatin1Char(';');
}

QString updateSign(int sign, const QString &rpm)
{
    return QStringLiteral("update softwares set sign=") + literal(QString::number(sign)) +
           QStringLiteral(" where s_rpm=") + literal(rpm) + QLatin1Char(';');
}

QString insertInstalled(const RpmInfo &info, bool terminated)
{
    return QStringLiteral("insert into software(name,version,release_ver) values(") +
           literal(info.m_name) + QLatin1Char(',') + literal(info.m_version) + QLatin1Char(',') +
           literal(info.m_release) + QLatin1Char(')') +
           (terminated ? QStringLiteral(";") : QString());
}

} // namespace CatalogSql
