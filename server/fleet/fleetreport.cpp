#include "fleet/fleetreport.h"

#include "fleet/fleetadvisories.h"
#include "fleet/fleetdatabase.h"
#include "records/operationword.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>
#include <sqlite3.h>

namespace
{

constexpr qint64 Day = 86400;

// Cells carry desktops' text, and a spreadsheet runs a cell that starts like a formula: such
// a cell starts with a quote mark instead, unless the whole cell is a number ("-1+HYPERLINK"
// is not).
QString csvCell(const QString &cell)
{
    static const QRegularExpression formula(QStringLiteral("^[=+\\-@\\t\\r]"));
    static const QRegularExpression number(QStringLiteral("^[-+]?[0-9]+(\\.[0-9]+)?$"));
    const bool quoted = formula.match(cell).hasMatch() && !number.match(cell).hasMatch();
    const QString text = quoted ? QLatin1Char('\'') + cell : cell;
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

// Columns as wide as their widest cell (counted in characters).
QString textTable(const FleetReport::Table &table)
{
    QVector<int> widths;
    for (const QString &column : table.columns)
        widths << column.size();
    for (const QStringList &row : table.rows)
        for (int i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = qMax(widths[i], row[i].size());
    const auto line = [&](const QStringList &cells) {
        QString text;
        for (int i = 0; i < cells.size(); ++i)
            text += (i ? QStringLiteral("  ") : QString()) +
                    (i + 1 < cells.size() ? cells[i].leftJustified(widths[i]) : cells[i]);
        return text + QLatin1Char('\n');
    };
    QString text = table.name + QLatin1Char('\n') + line(table.columns);
    for (const QStringList &row : table.rows)
        text += line(row);
    if (table.rows.isEmpty())
        text += QStringLiteral("(none)\n");
    return text;
}

} // namespace

FleetReport::FleetReport(sqlite3 *db, qint64 now, GroupOf groupOf)
    : m_db(db), m_now(now), m_groupOf(std::move(groupOf))
{
}

FleetReport::Table FleetReport::table(const QString &name, const QStringList &columns,
                                      const char *sql, const QStringList &values) const
{
    Table result{name, columns, {}};
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "catalog-server: report: %s\n", sqlite3_errmsg(m_db));
        return result;
    }
    for (int i = 0; i < values.size(); ++i) {
        const QByteArray bytes = values[i].toUtf8();
        sqlite3_bind_text(statement, i + 1, bytes.constData(), bytes.size(), SQLITE_TRANSIENT);
    }
    // The database names operations by key; people read the store's own word for them.
    const int operation = int(columns.indexOf(QStringLiteral("operation")));
    while (sqlite3_step(statement) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, c));
            row << QString::fromUtf8(text ? text : "");
        }
        if (operation >= 0 && operation < row.size()) {
            if (const std::optional<Operation> known = OperationWord::fromKey(row[operation]))
                row[operation] = OperationWord::of(*known);
            else if (row[operation] == OperationWord::deferralKey())
                row[operation] = OperationWord::deferral();
        }
        result.rows << row;
    }
    sqlite3_finalize(statement);
    return result;
}

QVector<FleetReport::Table> FleetReport::summary() const
{
    const QString day = QString::number(m_now - Day);
    const QString week = QString::number(m_now - 7 * Day);
    const QString listed = QString::number(ListedRows);
    return {
        table(QStringLiteral("desktops"),
              {"total", "seen today", "seen this week", "not for a week"},
              "SELECT count(*), count(CASE WHEN last_seen >= ?1 THEN 1 END),"
              " count(CASE WHEN last_seen >= ?2 THEN 1 END),"
              " count(CASE WHEN last_seen < ?2 THEN 1 END) FROM desktops",
              {day, week}),
        table(QStringLiteral("failures of the last day"),
              {"desktop", "time", "operation", "package", "code", "text"},
              "SELECT address, datetime(time, 'unixepoch'), oper, rpm, code, echo FROM results"
              " WHERE received >= ?1 AND code <> 0 ORDER BY received DESC, rowid DESC LIMIT ?2",
              {day, listed}),
        table(QStringLiteral("packages"), {"package", "desktops", "versions"},
              "SELECT name, sum(n), group_concat(version || ' ' || n, ', ') FROM"
              " (SELECT name, version, count(*) AS n FROM installed GROUP BY name, version"
              " ORDER BY name, n DESC) GROUP BY name ORDER BY name",
              {}),
        table(QStringLiteral("not heard from for a week"), {"desktop", "last seen"},
              "SELECT address, datetime(last_seen, 'unixepoch') FROM desktops WHERE last_seen < ?1"
              " ORDER BY last_seen LIMIT ?2",
              {week, listed}),
        // Newest: the sequence most desktops of the week have (the higher on a tie), so one
        // desktop claiming a sequence cannot make every other look stale.
        table(QStringLiteral("stale catalogs"), {"desktop", "sequence", "newest"},
              "SELECT address, sequence, (SELECT sequence FROM desktops WHERE last_seen >= ?2"
              " AND sequence IS NOT NULL GROUP BY sequence ORDER BY count(*) DESC, sequence DESC"
              " LIMIT 1) AS newest FROM desktops WHERE sequence < newest ORDER BY sequence"
              " LIMIT ?1",
              {listed, week}),
    };
}

QVector<FleetReport::Table> FleetReport::package(const QString &name) const
{
    const QString listed = QString::number(ListedRows);
    return {
        table(QStringLiteral("versions of ") + name, {"version", "desktops"},
              "SELECT version, count(*) AS n FROM installed WHERE name = ?1 GROUP BY version"
              " ORDER BY n DESC, version",
              {name}),
        table(QStringLiteral("desktops"), {"desktop", "version"},
              "SELECT address, version FROM installed WHERE name = ?1 ORDER BY address", {name}),
        table(QStringLiteral("results"),
              {"desktop", "time", "operation", "package", "code", "text"},
              "SELECT address, datetime(time, 'unixepoch'), oper, rpm, code, echo FROM results"
              " WHERE name = ?1 ORDER BY received DESC, rowid DESC LIMIT ?2",
              {name, listed}),
    };
}

QVector<FleetReport::Table> FleetReport::desktop(const QString &address) const
{
    const QString listed = QString::number(ListedRows);
    return {
        table(QStringLiteral("desktop ") + address,
              {"account", "first seen", "last seen", "catalog sequence",
               "results over the day's bound", "packages the repository does not offer"},
              "SELECT account, datetime(first_seen, 'unixepoch'), datetime(last_seen, 'unixepoch'),"
              " ifnull(sequence, ''), results_dropped, unknown_packages FROM desktops"
              " WHERE address = ?1",
              {address}),
        table(QStringLiteral("installed"), {"package", "version"},
              "SELECT name, version FROM installed WHERE address = ?1 ORDER BY name", {address}),
        table(QStringLiteral("results"), {"time", "operation", "package", "code", "text"},
              "SELECT datetime(time, 'unixepoch'), oper, rpm, code, echo FROM results"
              " WHERE address = ?1 ORDER BY received DESC, rowid DESC LIMIT ?2",
              {address, listed}),
        FleetAdvisories(m_db, m_groupOf).missingOn(address),
    };
}

QVector<FleetReport::Table> FleetReport::advisories() const
{
    return {FleetAdvisories(m_db, m_groupOf).overview()};
}

QVector<FleetReport::Table> FleetReport::advisory(const QString &id) const
{
    return FleetAdvisories(m_db, m_groupOf).advisory(id);
}

QVector<FleetReport::Table> FleetReport::rollouts() const
{
    const QString listed = QString::number(ListedRows);
    const Table rollouts = table(
        QStringLiteral("rollouts"),
        {"package", "version", "previous", "state", "started", "changed", "reason", "stage delay"},
        "SELECT package, version, previous, state, datetime(started, 'unixepoch'),"
        " datetime(changed, 'unixepoch'), reason, CASE WHEN delay IS NULL THEN ''"
        " WHEN delay % 3600 = 0 THEN (delay / 3600) || 'h' WHEN delay % 60 = 0"
        " THEN (delay / 60) || 'm' ELSE delay || 's' END || CASE WHEN"
        " ifnull(severity, '') <> '' THEN ' (' || severity || ' security fix)' ELSE ''"
        " END FROM rollouts"
        " ORDER BY changed DESC, package LIMIT ?1",
        {listed});
    const Table groups = table(QStringLiteral("rollout groups"), {},
                               "SELECT package, version, previous, state, pilots, groups"
                               " FROM rollouts WHERE state <> 'superseded'"
                               " ORDER BY changed DESC, package LIMIT ?1",
                               {listed});
    Table served{QStringLiteral("served per group"), {"package", "version", "group", "serves"}, {}};
    for (const QStringList &row : groups.rows) {
        const QString &state = row[3];
        const bool pulled = state == QLatin1String("pulled");
        const bool held =
            pulled || state == QLatin1String("pilot") || state == QLatin1String("halted");
        for (const QString &group : row[4].split(QLatin1Char(' '), Qt::SkipEmptyParts))
            served.rows << QStringList{row[0], row[1], group, pulled ? row[2] : row[1]};
        for (const QString &group : row[5].split(QLatin1Char(' '), Qt::SkipEmptyParts))
            served.rows << QStringList{row[0], row[1], group, held ? row[2] : row[1]};
    }
    return {
        rollouts,
        served,
        table(QStringLiteral("desktops on a version others are held from"),
              {"desktop", "package", "version", "state"},
              "SELECT i.address, i.name, i.version, r.state FROM installed i JOIN rollouts r"
              " ON r.package = i.name AND r.version = i.version"
              " WHERE r.state IN ('pilot', 'halted') ORDER BY r.state, i.name, i.address"
              " LIMIT ?1",
              {listed}),
    };
}

QVector<FleetReport::Table> FleetReport::desktops() const
{
    return {table(QStringLiteral("desktops"),
                  {"desktop", "account", "last seen", "catalog sequence"},
                  "SELECT address, account, datetime(last_seen, 'unixepoch'),"
                  " ifnull(sequence, '') FROM desktops ORDER BY last_seen DESC, address LIMIT ?1",
                  {QString::number(ListedRows)})};
}

QVector<FleetReport::Table> FleetReport::audit() const
{
    return {table(QStringLiteral("audit"), {"time", "who", "from", "action", "result"},
                  "SELECT datetime(time, 'unixepoch'), who, origin, action, result FROM audit"
                  " ORDER BY id DESC LIMIT ?1",
                  {QString::number(ListedRows)})};
}

bool FleetReport::formatOf(const QString &text, Format *format)
{
    if (text == QLatin1String("text"))
        *format = Format::Text;
    else if (text == QLatin1String("csv"))
        *format = Format::Csv;
    else if (text == QLatin1String("json"))
        *format = Format::Json;
    else
        return false;
    return true;
}

QString FleetReport::render(const QVector<Table> &tables, Format format)
{
    QString out;
    if (format == Format::Json) {
        QJsonObject document;
        for (const Table &table : tables) {
            QJsonArray rows;
            for (const QStringList &row : table.rows) {
                QJsonObject object;
                for (int i = 0; i < row.size() && i < table.columns.size(); ++i)
                    object.insert(table.columns[i], row[i]);
                rows.append(object);
            }
            document.insert(table.name, rows);
        }
        return QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented));
    }
    for (const Table &table : tables) {
        if (format == Format::Text) {
            out += (out.isEmpty() ? QString() : QStringLiteral("\n")) + textTable(table);
            continue;
        }
        // One CSV stream: the table's name is each row's first cell.
        out += QStringLiteral("table,") + table.columns.join(QLatin1Char(',')) + QLatin1Char('\n');
        for (const QStringList &row : table.rows) {
            QStringList cells{csvCell(table.name)};
            for (const QString &cell : row)
                cells << csvCell(cell);
            out += cells.join(QLatin1Char(',')) + QLatin1Char('\n');
        }
    }
    return out;
}

int FleetReport::run(const QString &database, const QStringList &arguments, const QString &format,
                     GroupOf groupOf)
{
    Format chosen;
    if (!formatOf(format, &chosen)) {
        std::fprintf(stderr, "catalog-server: --format must be text, csv or json\n");
        return 2;
    }
    const bool whole = arguments.isEmpty();
    const bool one = arguments.size() == 2 && (arguments[0] == QLatin1String("package") ||
                                               arguments[0] == QLatin1String("desktop") ||
                                               arguments[0] == QLatin1String("advisory"));
    const bool rollout = arguments == QStringList{QStringLiteral("rollout")};
    const bool audited = arguments == QStringList{QStringLiteral("audit")};
    const bool advisories = arguments == QStringList{QStringLiteral("advisories")};
    if (!whole && !one && !rollout && !audited && !advisories) {
        std::fprintf(stderr, "catalog-server: report [package NAME | desktop ADDRESS | rollout |"
                             " audit | advisories | advisory ID]\n");
        return 2;
    }
    FleetDatabase db;
    QString error;
    if (database.isEmpty() || !db.open(database, true, &error)) {
        std::fprintf(stderr, "catalog-server: report: %s\n",
                     database.isEmpty() ? "no fleet database (--fleet-db)"
                                        : error.toUtf8().constData());
        return 1;
    }
    const FleetReport report(db.handle(), QDateTime::currentSecsSinceEpoch(), std::move(groupOf));
    const QString &what = arguments.value(0);
    const QVector<Table> tables = whole                              ? report.summary()
                                  : rollout                          ? report.rollouts()
                                  : audited                          ? report.audit()
                                  : advisories                       ? report.advisories()
                                  : what == QLatin1String("package") ? report.package(arguments[1])
                                  : what == QLatin1String("advisory")
                                      ? report.advisory(arguments[1])
                                      : report.desktop(arguments[1]);
    const QByteArray text = render(tables, chosen).toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return 0;
}
