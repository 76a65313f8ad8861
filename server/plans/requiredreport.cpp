#include "plans/requiredreport.h"

#include "fleet/fleetdatabase.h"
#include "fleet/fleetstatement.h"
#include "records/version.h"
#include "repository/catalogoverrides.h"

#include <QHash>
#include <QMap>

#include <cstdio>

FleetReport::Table RequiredReport::table(const Requirements &requirements) const
{
    FleetReport::Table table{QStringLiteral("Required"),
                             {QStringLiteral("package"), QStringLiteral("action"),
                              QStringLiteral("version"), QStringLiteral("group"),
                              QStringLiteral("done"), QStringLiteral("pending"),
                              QStringLiteral("failed")},
                             {}};
    QHash<QString, QString> groupOf; // desktop address to group
    QHash<QString, bool> inventoried;
    FleetStatement desktops(m_db, "SELECT address, account, inventory_time FROM desktops");
    while (desktops.next()) {
        groupOf.insert(desktops.textAt(0), m_groups.of(desktops.textAt(1), desktops.textAt(0)));
        inventoried.insert(desktops.textAt(0), desktops.integerAt(2) > 0);
    }
    FleetStatement installed(m_db, "SELECT address, version FROM installed WHERE name = ?");
    FleetStatement newest(m_db, "SELECT version FROM repository_versions WHERE package = ?");
    // Each desktop's last result for the package, by its own clock's order of reports.
    FleetStatement results(m_db, "SELECT address, oper, rpm, code FROM results WHERE name = ?"
                                 " ORDER BY time, report");
    for (const Requirement &requirement : requirements) {
        const PlanFrame::Item &item = requirement.item;
        QString version = item.versionRelease;
        if (!item.remove && version.isEmpty()) {
            newest.text(1, item.package);
            version = newest.next() ? newest.textAt(0) : QString();
            while (newest.next()) {
            }
        }
        QHash<QString, QString> has;
        installed.text(1, item.package);
        while (installed.next())
            has.insert(installed.textAt(0), installed.textAt(1));
        QHash<QString, bool> failedLast;
        results.text(1, item.package);
        const QString target = item.package + QLatin1Char('-') + version;
        while (results.next()) {
            const bool removal = results.textAt(1) == QLatin1String("remove");
            if (removal == item.remove && (item.remove || results.textAt(2) == target))
                failedLast.insert(results.textAt(0), results.integerAt(3) != 0);
        }
        QMap<QString, QVector<int>> counts; // group to done, pending, failed
        for (auto it = groupOf.cbegin(); it != groupOf.cend(); ++it) {
            if (!requirement.group.isEmpty() && it.value() != requirement.group)
                continue;
            const QString now = has.value(it.key());
            const bool done = item.remove ? inventoried.value(it.key()) && now.isEmpty()
                                          : !now.isEmpty() && !version.isEmpty() &&
                                                compareversion(now, version) <= 0;
            QVector<int> &count = counts[it.value()];
            count.resize(3);
            ++count[done ? 0 : failedLast.value(it.key()) ? 2 : 1];
        }
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            table.rows << QStringList{item.package,
                                      item.remove ? QStringLiteral("remove")
                                                  : QStringLiteral("require"),
                                      version,
                                      it.key(),
                                      QString::number(it.value()[0]),
                                      QString::number(it.value()[1]),
                                      QString::number(it.value()[2])};
    }
    return table;
}

int RequiredReport::run(const QString &database, const QString &overrides,
                        const DesktopGroups &groups, const QString &format)
{
    FleetReport::Format chosen;
    if (!FleetReport::formatOf(format, &chosen)) {
        std::fprintf(stderr, "catalog-server: --format must be text, csv or json\n");
        return 2;
    }
    CatalogOverrides statements;
    QString error;
    FleetDatabase db;
    if (overrides.isEmpty() || !statements.load(overrides, &error) || database.isEmpty() ||
        !db.open(database, true, &error)) {
        std::fprintf(stderr, "catalog-server: report required: %s\n",
                     error.isEmpty() ? "needs the override file and the fleet database"
                                     : error.toUtf8().constData());
        return 1;
    }
    const QString text = FleetReport::render(
        {RequiredReport(db.handle(), groups).table(statements.requirements())}, chosen);
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    return 0;
}
