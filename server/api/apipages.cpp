#include "api/apipages.h"

#include "fleet/fleetpage.h"
#include "fleet/fleetreport.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QUrl>

namespace
{

QString escaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

// Links below /status/KIND/ for the first cell of each row, once each.
QString links(const QString &title, const QString &kind, const FleetReport::Table &table)
{
    QString html = QStringLiteral("<h2>%1</h2>\n<ul id='%2-links'>\n").arg(escaped(title), kind);
    QStringList seen;
    for (const QStringList &row : table.rows) {
        const QString name = row.value(0);
        if (name.isEmpty() || seen.contains(name))
            continue;
        seen << name;
        html += QStringLiteral("<li><a href='/status/%1/%2'>%3</a></li>\n")
                    .arg(kind, escaped(QString::fromLatin1(QUrl::toPercentEncoding(name))),
                         escaped(name));
    }
    return html + QStringLiteral("</ul>\n");
}

QString tablesPage(const QString &title, const QVector<FleetReport::Table> &tables, qint64 now)
{
    QString body = QStringLiteral("<p><a href='/status'>fleet</a></p>\n");
    for (int i = 0; i < tables.size(); ++i)
        body += FleetPage::tableHtml(tables[i], QStringLiteral("table-%1").arg(i));
    return FleetPage::document(title, body, now);
}

} // namespace

QString ApiPages::status(sqlite3 *db, qint64 now, const FleetReport::GroupOf &groupOf,
                         const FleetPage::RequiredWork &requiredWork)
{
    const FleetReport report(db, now);
    const QString nav = links(QStringLiteral("rollout pages"), QStringLiteral("rollouts"),
                              report.rollouts().value(0)) +
                        links(QStringLiteral("desktop pages"), QStringLiteral("desktops"),
                              report.desktops().value(0));
    QString page = FleetPage::html(db, now, groupOf, requiredWork);
    return page.insert(page.lastIndexOf(QLatin1String("</body>")), nav);
}

QString ApiPages::desktop(sqlite3 *db, const QString &address, qint64 now)
{
    return tablesPage(QStringLiteral("desktop ") + address, FleetReport(db, now).desktop(address),
                      now);
}

QString ApiPages::rollout(sqlite3 *db, const QString &package, qint64 now)
{
    QVector<FleetReport::Table> tables = FleetReport(db, now).rollouts();
    for (FleetReport::Table &table : tables) {
        QVector<QStringList> kept;
        const int column = int(table.columns.indexOf(QStringLiteral("package")));
        for (const QStringList &row : table.rows)
            if (row.value(column) == package)
                kept << row;
        table.rows = kept;
    }
    return tablesPage(QStringLiteral("rollout of ") + package, tables, now);
}

QByteArray ApiPages::contentSecurityPolicy(const QString &page)
{
    static const QRegularExpression style(QStringLiteral("<style>(.*?)</style>"),
                                          QRegularExpression::DotMatchesEverythingOption);
    QByteArray styles;
    for (auto match = style.globalMatch(page); match.hasNext();)
        styles +=
            " 'sha256-" +
            QCryptographicHash::hash(match.next().captured(1).toUtf8(), QCryptographicHash::Sha256)
                .toBase64() +
            "'";
    return "default-src 'none'; style-src" + (styles.isEmpty() ? QByteArray(" 'none'") : styles) +
           "; img-src data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}
