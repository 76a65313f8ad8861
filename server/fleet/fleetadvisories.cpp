#include "fleet/fleetadvisories.h"

#include "fleet/fleetstatement.h"
#include "records/rpmversionorder.h"
#include "sync/packageadvisories.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>

#include <algorithm>

namespace
{

QString day(qint64 issued)
{
    return issued > 0 ? QDateTime::fromSecsSinceEpoch(issued, Qt::UTC)
                            .toString(QStringLiteral("yyyy-MM-dd"))
                      : QString();
}

// A long list of CVEs stays readable in a table row.
QString cveList(const QString &cves)
{
    const QStringList all = cves.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    constexpr int Shown = 5;
    return all.size() <= Shown ? all.join(QLatin1Char(' '))
                               : all.mid(0, Shown).join(QLatin1Char(' ')) +
                                     QStringLiteral(" (+%1)").arg(all.size() - Shown);
}

// rpm_older(installed, fixed): 1 when installed is older in rpm's order (each pair compared
// once), and desktop_group(address) from the groups given; both for one query's length.
class VersionFunctions
{
public:
    VersionFunctions(sqlite3 *db, const QHash<QString, QString> *groups)
        : m_db(db), m_groups(groups)
    {
        sqlite3_create_function_v2(db, "rpm_older", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, this,
                                   &VersionFunctions::older, nullptr, nullptr, nullptr);
        sqlite3_create_function_v2(db, "desktop_group", 1, SQLITE_UTF8, this,
                                   &VersionFunctions::group, nullptr, nullptr, nullptr);
    }
    ~VersionFunctions()
    {
        sqlite3_create_function_v2(m_db, "rpm_older", 2, SQLITE_UTF8, nullptr, nullptr, nullptr,
                                   nullptr, nullptr);
        sqlite3_create_function_v2(m_db, "desktop_group", 1, SQLITE_UTF8, nullptr, nullptr, nullptr,
                                   nullptr, nullptr);
    }

private:
    // The value's bytes, valid for the call only: looked up without a copy.
    static QByteArray text(sqlite3_value *value)
    {
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_value_text(value));
        return bytes ? QByteArray::fromRawData(bytes, sqlite3_value_bytes(value)) : QByteArray();
    }
    static void older(sqlite3_context *context, int, sqlite3_value **values)
    {
        auto *self = static_cast<VersionFunctions *>(sqlite3_user_data(context));
        const QByteArray installed = text(values[0]);
        const QByteArray fixed = text(values[1]);
        auto byFixed = self->m_older.find(fixed);
        if (byFixed == self->m_older.end())
            byFixed = self->m_older.insert(QByteArray(fixed.constData(), fixed.size()), {});
        auto known = byFixed->constFind(installed);
        if (known == byFixed->cend())
            known = byFixed->insert(QByteArray(installed.constData(), installed.size()),
                                    RpmVersionOrder::compare(QString::fromUtf8(installed),
                                                             QString::fromUtf8(fixed)) < 0);
        sqlite3_result_int(context, *known ? 1 : 0);
    }
    static void group(sqlite3_context *context, int, sqlite3_value **values)
    {
        auto *self = static_cast<VersionFunctions *>(sqlite3_user_data(context));
        const QByteArray name =
            self->m_groups->value(QString::fromUtf8(text(values[0])), QStringLiteral("default"))
                .toUtf8();
        sqlite3_result_text(context, name.constData(), name.size(), SQLITE_TRANSIENT);
    }

    sqlite3 *const m_db;
    const QHash<QString, QString> *const m_groups;
    QHash<QByteArray, QHash<QByteArray, bool>> m_older; // fixed -> installed -> older
};

} // namespace

FleetAdvisories::FleetAdvisories(sqlite3 *db, GroupOf groupOf)
    : m_db(db), m_groupOf(std::move(groupOf))
{
}

bool FleetAdvisories::replace(sqlite3 *db, const QVector<Advisory> &advisories, QString *error)
{
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    bool ok = sqlite3_exec(db, "DELETE FROM advisories; DELETE FROM advisory_packages;", nullptr,
                           nullptr, nullptr) == SQLITE_OK;
    {
        FleetStatement advisory(db, "INSERT OR REPLACE INTO advisories(id, type, severity,"
                                    " issued, title, cves) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        FleetStatement package(db, "INSERT OR IGNORE INTO advisory_packages(advisory, package,"
                                   " version) VALUES(?1, ?2, ?3)");
        ok = ok && advisory.isValid() && package.isValid();
        for (const Advisory &a : advisories) {
            if (!ok)
                break;
            ok = advisory.text(1, a.id)
                     .text(2, a.type)
                     .text(3, a.severity)
                     .integer(4, a.issued)
                     .text(5, a.title)
                     .text(6, a.cves.join(QLatin1Char(' ')))
                     .run() >= 0;
            for (const Advisory::Fix &fix : a.fixes)
                ok = ok &&
                     package.text(1, a.id).text(2, fix.name).text(3, fix.versionRelease).run() >= 0;
        }
    }
    if (!ok || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

QString FleetAdvisories::groupOf(const QString &address, const QString &account) const
{
    return m_groupOf ? m_groupOf(address, account) : QStringLiteral("default");
}

QVector<FleetAdvisories::Exposure> FleetAdvisories::exposures(const QString &advisory,
                                                              const QString &address) const
{
    FleetStatement select(m_db, "SELECT ap.advisory, i.address, ifnull(d.account, ''),"
                                " ap.package, i.version, ap.version FROM advisory_packages ap"
                                " JOIN installed i ON i.name = ap.package"
                                " LEFT JOIN desktops d ON d.address = i.address"
                                " WHERE (?1 = '' OR ap.advisory = ?1)"
                                " AND (?2 = '' OR i.address = ?2)");
    select.text(1, advisory).text(2, address);
    // Few versions meet many desktops: each pair is compared once.
    QHash<QString, bool> older;
    QHash<QString, int> at; // "advisory address" -> index
    QVector<Exposure> found;
    while (select.next()) {
        Exposure e{select.textAt(0), select.textAt(1), select.textAt(2),
                   select.textAt(3), select.textAt(4), select.textAt(5)};
        const QString pair = e.installed + QLatin1Char(' ') + e.fixedIn;
        auto known = older.constFind(pair);
        if (known == older.cend())
            known = older.insert(pair, RpmVersionOrder::compare(e.installed, e.fixedIn) < 0);
        e.affected = *known;
        const QString key = e.advisory + QLatin1Char(' ') + e.address;
        const auto seen = at.constFind(key);
        if (seen == at.cend()) {
            at.insert(key, int(found.size()));
            found << e;
        } else if (e.affected && !found[*seen].affected) {
            found[*seen] = e;
        }
    }
    return found;
}

FleetReport::Table FleetAdvisories::overview() const
{
    struct Count {
        int fixed = 0;
        int affected = 0;
        QMap<QString, int> groups;
    };
    // Every desktop's group, asked once; SQLite then counts, per advisory, the desktops fixed
    // and the affected of each group, comparing versions through rpm_older.
    QHash<QString, QString> groupOfDesktop;
    {
        FleetStatement desktops(m_db, "SELECT address, ifnull(account, '') FROM desktops");
        while (desktops.next())
            groupOfDesktop.insert(desktops.textAt(0),
                                  groupOf(desktops.textAt(0), desktops.textAt(1)));
    }
    VersionFunctions functions(m_db, &groupOfDesktop);
    QHash<QString, Count> counts;
    FleetStatement select(m_db, "SELECT advisory, CASE WHEN affected THEN desktop_group(address)"
                                " ELSE '' END AS grp, count(*) FROM (SELECT ap.advisory AS"
                                " advisory, i.address AS address, max(rpm_older(i.version,"
                                " ap.version)) AS affected FROM advisory_packages ap JOIN"
                                " installed i ON i.name = ap.package GROUP BY ap.advisory,"
                                " i.address) GROUP BY advisory, grp");
    while (select.next()) {
        Count &count = counts[select.textAt(0)];
        const QString group = select.textAt(1);
        const int desktops = int(select.integerAt(2));
        if (group.isEmpty()) {
            count.fixed += desktops;
            continue;
        }
        count.affected += desktops;
        count.groups[group] += desktops;
    }
    FleetReport::Table table{QStringLiteral("advisories"),
                             {"advisory", "type", "severity", "issued", "title", "CVEs",
                              "desktops fixed", "desktops affected", "affected by group"},
                             {}};
    FleetStatement advisories(m_db,
                              "SELECT id, type, severity, issued, title, cves FROM advisories");
    QVector<QPair<Count, QStringList>> rows;
    while (advisories.next()) {
        const Count count = counts.value(advisories.textAt(0));
        QStringList byGroup;
        for (auto it = count.groups.cbegin(); it != count.groups.cend(); ++it)
            byGroup << it.key() + QLatin1Char(' ') + QString::number(it.value());
        rows.append({count,
                     {advisories.textAt(0), advisories.textAt(1), advisories.textAt(2),
                      day(advisories.integerAt(3)), advisories.textAt(4),
                      cveList(advisories.textAt(5)), QString::number(count.fixed),
                      QString::number(count.affected), byGroup.join(QStringLiteral(", "))}});
    }
    const auto security = [](const QStringList &row) {
        return row[1] == QLatin1String("security") ? PackageAdvisories::rank(row[2]) + 1 : 0;
    };
    std::sort(rows.begin(), rows.end(), [&](const auto &a, const auto &b) {
        if (security(a.second) != security(b.second))
            return security(a.second) > security(b.second);
        if (a.first.affected != b.first.affected)
            return a.first.affected > b.first.affected;
        return a.second[0] < b.second[0];
    });
    for (const auto &row : rows)
        table.rows << row.second;
    return table;
}

QVector<FleetReport::Table> FleetAdvisories::advisory(const QString &id) const
{
    FleetReport::Table about{QStringLiteral("advisory ") + id,
                             {"type", "severity", "issued", "title", "CVEs", "packages"},
                             {}};
    FleetStatement select(m_db, "SELECT type, severity, issued, title, cves, (SELECT"
                                " group_concat(package || ' ' || version, ', ') FROM"
                                " advisory_packages WHERE advisory = ?1) FROM advisories"
                                " WHERE id = ?1");
    select.text(1, id);
    while (select.next())
        about.rows << QStringList{select.textAt(0), select.textAt(1), day(select.integerAt(2)),
                                  select.textAt(3), select.textAt(4), select.textAt(5)};
    FleetReport::Table lacking{QStringLiteral("desktops that lack it"),
                               {"desktop", "group", "package", "installed", "fixed in"},
                               {}};
    if (about.rows.isEmpty())
        return {about, lacking};
    for (const Exposure &e : exposures(id, QString()))
        if (e.affected)
            lacking.rows << QStringList{e.address, groupOf(e.address, e.account), e.package,
                                        e.installed, e.fixedIn};
    std::sort(lacking.rows.begin(), lacking.rows.end());
    return {about, lacking};
}

FleetReport::Table FleetAdvisories::missingOn(const QString &address) const
{
    FleetReport::Table table{QStringLiteral("missing security fixes"),
                             {"advisory", "severity", "package", "installed", "fixed in", "CVEs"},
                             {}};
    if (address.isEmpty())
        return table;
    QHash<QString, QPair<QString, QString>> about; // id -> severity, CVEs
    FleetStatement select(m_db, "SELECT id, severity, cves FROM advisories"
                                " WHERE type = 'security'");
    while (select.next())
        about.insert(select.textAt(0), {select.textAt(1), select.textAt(2)});
    QVector<Exposure> missing;
    for (const Exposure &e : exposures(QString(), address))
        if (e.affected && about.contains(e.advisory))
            missing << e;
    std::sort(missing.begin(), missing.end(), [&](const Exposure &a, const Exposure &b) {
        const int ra = PackageAdvisories::rank(about.value(a.advisory).first);
        const int rb = PackageAdvisories::rank(about.value(b.advisory).first);
        return ra != rb ? ra > rb : a.advisory < b.advisory;
    });
    for (const Exposure &e : missing)
        table.rows << QStringList{e.advisory, about.value(e.advisory).first,
                                  e.package,  e.installed,
                                  e.fixedIn,  cveList(about.value(e.advisory).second)};
    return table;
}

QVector<QPair<QString, int>> FleetAdvisories::affectedBySeverity() const
{
    QHash<QString, QString> severity;
    FleetStatement select(m_db, "SELECT id, severity FROM advisories WHERE type = 'security'");
    while (select.next())
        severity.insert(select.textAt(0), select.textAt(1));
    QHash<QString, QSet<QString>> desktops;
    for (const Exposure &e : exposures(QString(), QString()))
        if (e.affected && severity.contains(e.advisory))
            desktops[severity.value(e.advisory)].insert(e.address);
    QVector<QPair<QString, int>> counts;
    for (const QString &level : PackageAdvisories::severities())
        counts.append({level, int(desktops.value(level).size())});
    return counts;
}
