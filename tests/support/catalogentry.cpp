#include "catalogentry.h"

namespace
{

QString attribute(const char *name, const QString &value)
{
    return QLatin1Char(' ') + QLatin1String(name) + QStringLiteral("='") +
           value.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&apos;")) +
           QLatin1Char('\'');
}

} // namespace

QString catalogFrame(const QString &action, const QVector<CatalogEntry> &entries)
{
    QString frame = QStringLiteral("<frame action='") + action +
                    QStringLiteral("'><datas client='127.0.0.2' architecture='x86_64'>");
    for (const CatalogEntry &entry : entries) {
        frame += QStringLiteral("<software") + attribute("name", entry.name) +
                 attribute("icon", entry.icon) + attribute("exec", entry.exec) +
                 attribute("rpm", entry.rpm) + attribute("class", entry.type) +
                 attribute("version", entry.version) + attribute("size", entry.size) +
                 attribute("star", entry.star) + attribute("time", QStringLiteral("1")) +
                 attribute("desc", entry.desc) + attribute("rpmdeps", QString()) +
                 QStringLiteral("/>");
    }
    return frame + QStringLiteral("</datas></frame>");
}

QVector<CatalogEntry> generatedCatalog(int count, int (*category)(int index))
{
    QVector<CatalogEntry> entries;
    for (int i = 0; i < count; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));
        CatalogEntry entry;
        entry.name = QStringLiteral("应用") + number;
        entry.icon = QStringLiteral("cv-gen") + number;
        entry.rpm = entry.icon + QStringLiteral("-1.0-1");
        entry.type = QString::number(category(i));
        entry.version = QStringLiteral("1.0");
        entry.desc = QStringLiteral("生成的应用 ") + number;
        entries << entry;
    }
    return entries;
}
