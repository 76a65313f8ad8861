#include "plans/requiredreport.h"

#include "fleet/fleetdatabase.h"
#include "fleet/fleetstatement.h"
#include "plans/planservice.h"
#include "records/operationword.h"
#include "records/version.h"
#include "repository/catalogoverrides.h"
#include "repository/repositorycatalog.h"
#include "rollout/rolloutbook.h"
#include "serving/repositoryfollower.h"

#include <QHash>
#include <QMap>

#include <cstdio>

namespace
{

// A desktop's last word on a requirement's target, in the order of its columns.
enum Word { Done, Pending, Deferred, Failed, Words };

} // namespace

FleetReport::Table RequiredReport::table(const Requirements &requirements) const
{
    FleetReport::Table table{QStringLiteral("Required"),
                             {QStringLiteral("package"), QStringLiteral("action"),
                              QStringLiteral("version"), QStringLiteral("group"),
                              QStringLiteral("done"), QStringLiteral("pending"),
                              QStringLiteral("deferred"), QStringLiteral("failed")},
                             {}};
    QHash<QString, QString> groupOf; // desktop address to group
    QHash<QString, bool> inventoried;
    FleetStatement desktops(m_db, "SELECT address, account, inventory_time FROM desktops");
    while (desktops.next()) {
        groupOf.insert(desktops.textAt(0), m_groups.of(desktops.textAt(1), desktops.textAt(0)));
        inventoried.insert(desktops.textAt(0), desktops.integerAt(2) > 0);
    }
    FleetStatement installed(m_db, "SELECT address, version FROM installed WHERE name = ?");
    // Each desktop's last result for the package, by its own clock's order of reports.
    FleetStatement results(m_db, "SELECT address, oper, rpm, code FROM results WHERE name = ?"
                                 " ORDER BY time, report");
    const QString deferral = OperationWord::deferralKey();
    const QString removal = OperationWord::key(Operation::Uninstall);
    for (const Requirement &requirement : requirements) {
        const PlanFrame::Item &item = requirement.item;
        // The version the group's plans name: the requirement's, else the one it is served.
        QHash<QString, QString> versionOf;
        const auto version = [&](const QString &group) {
            auto known = versionOf.constFind(group);
            if (known == versionOf.cend())
                known = versionOf.insert(group, item.remove || !item.versionRelease.isEmpty()
                                                    ? item.versionRelease
                                                    : m_served(group, item.package));
            return *known;
        };
        QHash<QString, QString> has;
        installed.text(1, item.package);
        while (installed.next())
            has.insert(installed.textAt(0), installed.textAt(1));
        QHash<QString, Word> lastWord;
        results.text(1, item.package);
        while (results.next()) {
            const QString &oper = results.textAt(1);
            const auto group = groupOf.constFind(results.textAt(0));
            if (group == groupOf.cend())
                continue;
            // A removal's deferral names the version installed, a require's the target.
            const bool deferred = oper == deferral;
            const bool matches =
                item.remove
                    ? oper == removal || deferred
                    : oper != removal &&
                          results.textAt(2) == item.package + QLatin1Char('-') + version(*group);
            // A success says no more than the next inventory will: it only ends the wait.
            if (matches && !deferred && results.integerAt(3) == 0)
                lastWord.remove(results.textAt(0));
            else if (matches)
                lastWord.insert(results.textAt(0), deferred ? Deferred : Failed);
        }
        QMap<QString, QVector<int>> counts; // group to a count per word
        for (auto it = groupOf.cbegin(); it != groupOf.cend(); ++it) {
            if (!requirement.group.isEmpty() && it.value() != requirement.group)
                continue;
            const QString now = has.value(it.key());
            const QString target = version(it.value());
            const bool done = item.remove ? inventoried.value(it.key()) && now.isEmpty()
                                          : !now.isEmpty() && !target.isEmpty() &&
                                                compareversion(now, target) <= 0;
            QVector<int> &count = counts[it.value()];
            count.resize(Words);
            ++count[done ? Done : lastWord.value(it.key(), Pending)];
        }
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            QStringList row{item.package,
                            item.remove ? QStringLiteral("remove") : QStringLiteral("require"),
                            version(it.key()), it.key()};
            for (int count : it.value())
                row << QString::number(count);
            table.rows << row;
        }
    }
    return table;
}

FleetPage::RequiredWork RequiredReport::of(const RepositoryFollower *follower,
                                           const DesktopGroups &groups)
{
    return [follower, &groups](sqlite3 *db) {
        return RequiredReport(db, groups, PlanService::served(follower))
            .table(follower->requirements());
    };
}

int RequiredReport::run(const Sources &sources, const DesktopGroups &groups, const QString &format)
{
    FleetReport::Format chosen;
    if (!FleetReport::formatOf(format, &chosen)) {
        std::fprintf(stderr, "catalog-server: --format must be text, csv or json\n");
        return 2;
    }
    CatalogOverrides statements;
    QString error;
    FleetDatabase db;
    if (sources.overrides.isEmpty() || sources.repository.isEmpty() ||
        !statements.load(sources.overrides, &error) || sources.database.isEmpty() ||
        !db.open(sources.database, true, &error)) {
        std::fprintf(stderr, "catalog-server: report required: %s\n",
                     error.isEmpty()
                         ? "needs the override file, the repository and the fleet database"
                         : error.toUtf8().constData());
        return 1;
    }
    // The catalogs as the service reads them now: the rollouts' holds, the pins within.
    const VersionHolds holds = RolloutBook::holdsIn(db.handle());
    RepositoryCatalog catalog(statements, sources.locale, sources.checks);
    if (!catalog.read(sources.repository, groups.names().mid(1), holds, &error)) {
        std::fprintf(stderr, "catalog-server: report required: %s\n", error.toUtf8().constData());
        return 1;
    }
    const QHash<QString, QStringList> versionReleases = catalog.versionReleases();
    const PlanWriter::Served served = [&](const QString &group, const QString &package) {
        return RepositoryFollower::servedOf(catalog.catalogs(), versionReleases,
                                            {statements.pins(), holds}, group, package);
    };
    const QString text = FleetReport::render(
        {RequiredReport(db.handle(), groups, served).table(statements.requirements())}, chosen);
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    return 0;
}
