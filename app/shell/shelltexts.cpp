#include "shell/shelltexts.h"

#include "records/category.h"

namespace ShellTexts
{

QString categoryName(int row)
{
    return row <= 0 ? allSoftware() : Category::name(row);
}

QString allSoftware()
{
    return QStringLiteral("全部软件");
}

QString countText(const QString &name, int count)
{
    return name + QStringLiteral(" (") + QString::number(count) + QLatin1Char(')');
}

QString noResult()
{
    return QStringLiteral("没有相关软件包");
}

QString busy()
{
    return QStringLiteral("1");
}

QString idle()
{
    return QStringLiteral("0");
}

QString homeTableStyle()
{
    return QStringLiteral("QTableWidget#tableWidget_allPackage{ border:none; }");
}

QString upgradeTableStyle()
{
    return QStringLiteral(
        "QTableWidget#tableWidget_allPackage{ border-left:none; border-right:none;border-top:none;"
        "border-bottom:1px solid #bfbfbf;}");
}

QString emptyTextStyle()
{
    return QStringLiteral("font-size:15px;color:#a4a4a4;");
}

} // namespace ShellTexts
