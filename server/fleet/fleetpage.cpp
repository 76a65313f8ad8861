#include "fleet/fleetpage.h"

#include "fleet/fleetadvisories.h"
#include "fleet/fleetreport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QVector>

#include <cstdio>
#include <sqlite3.h>

namespace
{

const char *const Palette[] = {"#2f6db5", "#e07b24", "#3a9a4a", "#b8403a", "#7b5cb0",
                               "#8c6a4f", "#c85ca0", "#6f7378", "#a7a02c", "#2aa3b3"};

// Attributes are single-quoted too, which toHtmlEscaped leaves open.
QString escaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

} // namespace

QString FleetPage::tableHtml(const FleetReport::Table &table, const QString &id)
{
    QString html = QStringLiteral("<h2>%1</h2>\n<table id='%2'><tr>").arg(escaped(table.name), id);
    for (const QString &column : table.columns)
        html += QStringLiteral("<th>%1</th>").arg(escaped(column));
    html += QStringLiteral("</tr>\n");
    for (const QStringList &row : table.rows) {
        html += QStringLiteral("<tr>");
        for (const QString &cell : row)
            html += QStringLiteral("<td>%1</td>").arg(escaped(cell));
        html += QStringLiteral("</tr>\n");
    }
    if (table.rows.isEmpty())
        html += QStringLiteral("<tr><td colspan='%1'>(none)</td></tr>\n").arg(table.columns.size());
    return html + QStringLiteral("</table>\n");
}

namespace
{

struct Spread {
    QString version;
    int count;
};

// Per package, its versions and how many desktops have each, the commonest first.
QMap<QString, QVector<Spread>> versionSpread(sqlite3 *db)
{
    QMap<QString, QVector<Spread>> spread;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT name, version, count(*) AS n FROM installed"
                           " GROUP BY name, version ORDER BY name, n DESC, version",
                           -1, &statement, nullptr) != SQLITE_OK)
        return spread;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto cell = [&](int c) {
            return QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(statement, c)));
        };
        spread[cell(0)].append({cell(1), sqlite3_column_int(statement, 2)});
    }
    sqlite3_finalize(statement);
    return spread;
}

// One bar per package, a segment per version as wide as its share of the widest package.
QString chart(const QMap<QString, QVector<Spread>> &spread)
{
    constexpr int Label = 220, Width = 520, Row = 26;
    int widest = 1;
    for (const QVector<Spread> &versions : spread) {
        int total = 0;
        for (const Spread &s : versions)
            total += s.count;
        widest = qMax(widest, total);
    }
    QString svg = QStringLiteral("<svg id='spread' xmlns='http://www.w3.org/2000/svg' width='%1' "
                                 "height='%2' role='img' aria-label='version spread'>\n")
                      .arg(Label + Width + 160)
                      .arg(qMax(1, spread.size()) * Row + 4);
    int y = 2;
    for (auto it = spread.cbegin(); it != spread.cend(); ++it, y += Row) {
        svg += QStringLiteral("<text x='0' y='%1' font-size='13'>%2</text>\n")
                   .arg(y + 16)
                   .arg(escaped(it.key()));
        double x = Label;
        int colour = 0;
        QStringList legend;
        for (const Spread &s : it.value()) {
            const double width = double(Width) * s.count / widest;
            svg +=
                QStringLiteral("<rect data-package='%1' data-version='%2' data-count='%3' "
                               "x='%4' y='%5' width='%6' height='%7' fill='%8'><title>%1 %2: "
                               "%3</title></rect>\n")
                    .arg(escaped(it.key()), escaped(s.version))
                    .arg(s.count)
                    .arg(x, 0, 'f', 1)
                    .arg(y)
                    .arg(width, 0, 'f', 1)
                    .arg(Row - 6)
                    .arg(QLatin1String(Palette[colour++ % int(sizeof Palette / sizeof *Palette)]));
            x += width;
            legend << s.version + QStringLiteral(": ") + QString::number(s.count);
        }
        svg += QStringLiteral("<text x='%1' y='%2' font-size='12'>%3</text>\n")
                   .arg(x + 6, 0, 'f', 1)
                   .arg(y + 16)
                   .arg(escaped(legend.join(QStringLiteral(", "))));
    }
    return svg + QStringLiteral("</svg>\n");
}

// One bar per severity: the desktops a security advisory of it still affects.
QString severityChart(const QVector<QPair<QString, int>> &counts)
{
    static const QHash<QString, QString> colours{{QStringLiteral("critical"), "#b8403a"},
                                                 {QStringLiteral("important"), "#e07b24"},
                                                 {QStringLiteral("moderate"), "#a7a02c"},
                                                 {QStringLiteral("low"), "#2f6db5"}};
    constexpr int Label = 120, Width = 420, Row = 26;
    int widest = 1;
    for (const auto &count : counts)
        widest = qMax(widest, count.second);
    QString svg = QStringLiteral("<svg id='severity' xmlns='http://www.w3.org/2000/svg' "
                                 "width='%1' height='%2' role='img' aria-label='desktops "
                                 "affected by severity'>\n")
                      .arg(Label + Width + 80)
                      .arg(counts.size() * Row + 4);
    int y = 2;
    for (const auto &count : counts) {
        const double width = double(Width) * count.second / widest;
        svg += QStringLiteral("<text x='0' y='%1' font-size='13'>%2</text>\n"
                              "<rect data-severity='%2' data-count='%3' x='%4' y='%5' "
                              "width='%6' height='%7' fill='%8'><title>%2: %3</title></rect>\n"
                              "<text x='%9' y='%1' font-size='12'>%3</text>\n")
                   .arg(y + 16)
                   .arg(escaped(count.first))
                   .arg(count.second)
                   .arg(Label)
                   .arg(y)
                   .arg(width, 0, 'f', 1)
                   .arg(Row - 6)
                   .arg(colours.value(count.first))
                   .arg(Label + width + 6, 0, 'f', 1);
        y += Row;
    }
    return svg + QStringLiteral("</svg>\n");
}

} // namespace

QString FleetPage::html(sqlite3 *db, qint64 now, const FleetReport::GroupOf &groupOf,
                        const RequiredWork &requiredWork)
{
    const FleetReport report(db, now, groupOf);
    const QVector<FleetReport::Table> summary = report.summary();
    QString body;
    const FleetReport::Table &desktops = summary.value(0);
    const QStringList figures = desktops.rows.value(0);
    const char *const ids[] = {"total", "today", "week", "silent"};
    body += QStringLiteral("<h2>desktops</h2>\n<p class='figures'>");
    for (int i = 0; i < desktops.columns.size() && i < 4; ++i)
        body += QStringLiteral("<span class='figure'>%1: <b id='desktops-%2'>%3</b></span> ")
                    .arg(escaped(desktops.columns[i]), QLatin1String(ids[i]),
                         escaped(figures.value(i, QStringLiteral("0"))));
    body += QStringLiteral("</p>\n");
    body += tableHtml(summary.value(1), QStringLiteral("failures"));
    body += QStringLiteral("<h2>version spread</h2>\n") + chart(versionSpread(db));
    body += tableHtml(summary.value(2), QStringLiteral("packages"));
    body += tableHtml(summary.value(3), QStringLiteral("silent"));
    body += tableHtml(summary.value(4), QStringLiteral("stale"));
    const QVector<FleetReport::Table> rollouts = report.rollouts();
    int halted = 0;
    for (const QStringList &row : rollouts.value(0).rows)
        halted += row.value(3) == QLatin1String("halted") ? 1 : 0;
    body += QStringLiteral("<h2>staged rollouts</h2>\n<p class='figures'><span class='figure'>"
                           "halted: <b id='rollouts-halted'>%1</b></span></p>\n")
                .arg(halted);
    body += tableHtml(rollouts.value(0), QStringLiteral("rollouts"));
    body += tableHtml(rollouts.value(1), QStringLiteral("rollout-groups"));
    body += tableHtml(rollouts.value(2), QStringLiteral("held-installed"));
    if (requiredWork) {
        FleetReport::Table required = requiredWork(db);
        required.name = QStringLiteral("required work");
        body += tableHtml(required, QStringLiteral("required"));
    }
    const FleetAdvisories advisories(db, groupOf);
    body += QStringLiteral("<h2>security advisories: desktops affected by severity</h2>\n") +
            severityChart(advisories.affectedBySeverity());
    body += tableHtml(advisories.overview(), QStringLiteral("advisories"));
    return document(QStringLiteral("fleet"), body, now);
}

QString FleetPage::document(const QString &title, const QString &body, qint64 now)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'>"
                          "<title>%1</title>\n<style>body{font-family:sans-serif;margin:1.5em}"
                          "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:"
                          "2px 8px;text-align:left}.figure{margin-right:2em}</style></head>\n"
                          "<body>\n<h1>%1</h1>\n<p>written %2 UTC</p>\n")
               .arg(escaped(title), QDateTime::fromSecsSinceEpoch(now, Qt::UTC)
                                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))) +
           body + QStringLiteral("</body></html>\n");
}

bool FleetPage::write(sqlite3 *db, qint64 now, const QString &directory, QString *error,
                      const FleetReport::GroupOf &groupOf, const RequiredWork &requiredWork)
{
    const QString target = directory + QStringLiteral("/fleet.html");
    const QString next = directory + QStringLiteral("/.fleet.html.new");
    QDir().mkpath(directory);
    QFile::remove(next);
    QFile file(next);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        file.write(html(db, now, groupOf, requiredWork).toUtf8()) < 0 || !file.flush()) {
        *error = next + QStringLiteral(": ") + file.errorString();
        return false;
    }
    file.close();
    if (::rename(QFile::encodeName(next).constData(), QFile::encodeName(target).constData()) != 0) {
        *error = target + QStringLiteral(": cannot be replaced");
        return false;
    }
    return true;
}
