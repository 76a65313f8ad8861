#include "sync/catalogsql.h"

#include "records/quoting.h"

#include <QStringList>

namespace CatalogSql
{

static QString literal(const QString &value)
{
    return QLatin1Char('\'') + Quoting::sqlLiteral(value) + QLatin1Char('\'');
}

Bound insertPackageBound(const CatalogPackage &package)
{
    QStringList columns;
    QStringList literals;
    QStringList placeholders;
    Bound statement;
    for (const CatalogPackage::Column &column : CatalogPackage::columns()) {
        columns << QLatin1String(column.column);
        literals << literal(package.*column.field);
        placeholders << QStringLiteral("?");
        statement.values << package.*column.field;
    }
    const QString head = QStringLiteral("insert into softwares(") + columns.join(QLatin1Char(',')) +
                         QStringLiteral(") values(");
    statement.shown = head + literals.join(QLatin1Char(',')) + QStringLiteral(");");
    statement.sql = head + placeholders.join(QLatin1Char(',')) + QStringLiteral(");");
    return statement;
}

Bound updatePackageBound(const CatalogPackage &package)
{
    QStringList shown;
    QStringList bound;
    Bound statement;
    // The first column is the key, s_name.
    const auto &columns = CatalogPackage::columns();
    for (int i = 1; i < columns.size(); ++i) {
        const QString assign = QLatin1String(columns[i].column) + QLatin1Char('=');
        shown << assign + literal(package.*columns[i].field);
        bound << assign + QLatin1Char('?');
        statement.values << package.*columns[i].field;
    }
    statement.values << package.name;
    const QString head = QStringLiteral("update softwares set ");
    const QString key = QStringLiteral(" where s_name=");
    statement.shown =
        head + shown.join(QLatin1Char(',')) + key + literal(package.name) + QLatin1Char(';');
    statement.sql = head + bound.join(QLatin1Char(',')) + key + QStringLiteral("?;");
    return statement;
}

Bound deletePackageBound(const QString &name)
{
    const QString head = QStringLiteral("delete from softwares where s_name=");
    return Bound{head + literal(name) + QLatin1Char(';'), head + QStringLiteral("?;"), {name}};
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
