#include "facade/catalogqueries.h"

#include "records/category.h"
#include "records/codes.h"
#include "records/paths.h"
#include "storage/queryresult.h"
#include "sync/packageadvisories.h"

#include <QDebug>

#include <functional>
#include <iterator>

namespace
{

// The catalog's columns as a record reads them, in the order every select lists them; the
// install state (sign) is the one that is not text. A new field is one entry here.
const struct {
    const char *column;
    QString RpmData::*field; // null: the install state
} RecordColumns[] = {
    {"s_name", &RpmData::m_name},
    {"s_icon", &RpmData::m_icon},
    {"s_exec", &RpmData::m_exec},
    {"s_rpm", &RpmData::m_rpm},
    {"s_version", &RpmData::m_version},
    {"s_size", &RpmData::m_size},
    {"s_description", &RpmData::m_description},
    {"s_star", &RpmData::m_star},
    {"type", &RpmData::m_type},
    {"sign", nullptr},
    {"s_rpmdeps", &RpmData::m_rpmdeps},
    {"ifnull((select a.text from advisories a where a.s_name = softwares.s_name), '')",
     &RpmData::m_advisories},
};

const QString &selectColumns()
{
    static const QString sql = [] {
        QStringList names;
        for (const auto &entry : RecordColumns)
            names << QLatin1String(entry.column);
        return QStringLiteral("select ") + names.join(QLatin1Char(',')) +
               QStringLiteral(" from softwares");
    }();
    return sql;
}

const char *const InstalledVersionSql = "select version,release_ver from software where name=?";

// Below SQLite's smallest limit of host parameters in one statement.
constexpr int NamesPerQuery = 500;

// A shorter select fills the leading fields.
RpmData recordFrom(const QueryResult &result, int row)
{
    RpmData record;
    const int count = qMin(result.columns(), int(std::size(RecordColumns)));
    for (int column = 0; column < count; ++column) {
        if (QString RpmData::*field = RecordColumns[column].field)
            record.*field = result.text(row, column);
        else
            record.m_state = result.text(row, column).toInt();
    }
    return record;
}

void noteFound(const QString &version)
{
    qDebug() << "local_version=" << version;
}

// "version-release" of the installed packages of these names, read a few hundred names per
// query instead of once per record; a name's first row wins, as in the one-name query.
QHash<QString, QString> installedVersions(const QSet<QString> &names)
{
    QHash<QString, QString> versions;
    const QStringList all(names.cbegin(), names.cend());
    for (int start = 0; start < all.size(); start += NamesPerQuery) {
        const QStringList chunk = all.mid(start, NamesPerQuery);
        QStringList placeholders;
        for (int k = 0; k < chunk.size(); ++k)
            placeholders << QStringLiteral("?");
        const QueryResult result(
            Paths::localDatabase(),
            QStringLiteral("select name,version,release_ver from software where name "
                           "in (%1) order by id")
                .arg(placeholders.join(QLatin1Char(','))),
            chunk);
        for (int row = 0; row < result.rows(); ++row) {
            const QString name = result.text(row, 0);
            if (!versions.contains(name))
                versions.insert(name, result.text(row, 1) + QLatin1Char('-') + result.text(row, 2));
        }
    }
    return versions;
}

QSet<QString> downloadedNames()
{
    const QueryResult result(Paths::localDatabase(),
                             QStringLiteral("select name from loadmanage where state='下载成功'"));
    QSet<QString> names;
    for (int row = 0; row < result.rows(); ++row)
        names.insert(result.text(row, 0));
    return names;
}

// A single-name look-up's record: an upgradable row says 0, or -1 when the package is
// installed. The installed version replaces no version here: only states 1 and 2 would
// take it, and those keep the row's own.
RpmData nameRecord(RpmData record, const std::function<bool(const QString &icon)> &isInstalled)
{
    if (record.m_state == StateUpgradable)
        record.m_state = isInstalled(record.m_icon) ? -1 : StateNotInstalled;
    return record;
}

} // namespace

std::optional<QueryMode> CatalogQueries::modeOf(int legacyMode)
{
    switch (legacyMode) {
    case 0:
        return QueryMode::Everything;
    case 1:
        return QueryMode::Upgradable;
    case 2:
        return QueryMode::Installed;
    default:
        return std::nullopt;
    }
}

QVector<RpmData> CatalogQueries::search(QueryMode mode, const QString &category,
                                        const QString &keyword)
{
    QStringList conditions;
    QStringList parameters;
    const int code = Category::code(category);
    if (code > 0) {
        conditions << QStringLiteral("type=?");
        parameters << QString::number(code);
    }
    if (!keyword.isEmpty()) {
        // Parenthesised so that a search stays within its category.
        conditions << QStringLiteral("(s_name like ? or s_description like ?)");
        const QString pattern = QLatin1Char('%') + keyword + QLatin1Char('%');
        parameters << pattern << pattern;
    }
    // The lists of upgradable and installed rows need only the rows marked so; the rest would
    // be read and dropped.
    if (mode == QueryMode::Upgradable)
        conditions << QStringLiteral("sign='1'");
    else if (mode == QueryMode::Installed)
        conditions << QStringLiteral("sign in ('1','2')");
    QString sql = selectColumns();
    if (!conditions.isEmpty())
        sql += QStringLiteral(" where ") + conditions.join(QStringLiteral(" and "));
    return select(mode, sql, parameters);
}

QVector<RpmData> CatalogQueries::select(QueryMode mode, const QString &sql,
                                        const QStringList &parameters)
{
    const QueryResult result(Paths::catalogDatabase(), sql, parameters);
    const QSet<QString> downloaded = downloadedNames();
    QVector<RpmData> records;
    records.reserve(result.rows());
    QSet<QString> upgradable;
    for (int row = 0; row < result.rows(); ++row) {
        records.append(recordFrom(result, row));
        RpmData &record = records.last();
        if (downloaded.contains(record.m_icon))
            record.m_state = StateDownloaded;
        if (record.m_state == StateUpgradable)
            upgradable.insert(record.m_icon);
    }
    const QHash<QString, QString> installed = installedVersions(upgradable);
    QVector<RpmData> kept;
    for (RpmData &record : records) {
        QString shownVersion = record.m_version;
        QString missing;
        if (record.m_state == StateUpgradable) {
            const auto found = installed.constFind(record.m_icon);
            if (found != installed.cend()) {
                shownVersion = *found;
                noteFound(shownVersion);
            }
            // What the upgrade brings that the installed version lacks.
            QString gravest;
            missing = PackageAdvisories::compose(PackageAdvisories::securityFixesFor(
                PackageAdvisories::parse(record.m_advisories),
                found != installed.cend() ? *found : QString(), &gravest));
        }
        record.m_advisories = missing;
        switch (mode) {
        case QueryMode::Everything:
            kept.append(record);
            break;
        case QueryMode::Upgradable:
            if (record.m_state == StateUpgradable)
                kept.append(record);
            break;
        case QueryMode::Installed:
            if (record.m_state == StateUpgradable || record.m_state == StateInstalled) {
                record.m_version = shownVersion;
                kept.append(record);
            }
            break;
        }
    }
    return kept;
}

RpmData CatalogQueries::byName(QueryMode mode, const QString &name)
{
    Q_UNUSED(mode); // see nameRecord: no mode changes a single record
    const QueryResult result(Paths::catalogDatabase(),
                             selectColumns() + QStringLiteral(" where s_name=?;"), {name});
    RpmData record;
    for (int row = 0; row < result.rows(); ++row)
        record = nameRecord(recordFrom(result, row),
                            [](const QString &icon) { return installedVersion(icon).has_value(); });
    return record;
}

QHash<QString, RpmData> CatalogQueries::byNames(QueryMode mode, const QSet<QString> &names)
{
    Q_UNUSED(mode);
    const QueryResult result(Paths::catalogDatabase(), selectColumns());
    QVector<RpmData> rows;
    QSet<QString> upgradable;
    for (int row = 0; row < result.rows(); ++row) {
        RpmData record = recordFrom(result, row);
        if (!names.contains(record.m_name))
            continue;
        if (record.m_state == StateUpgradable)
            upgradable.insert(record.m_icon);
        rows.append(record);
    }
    const QHash<QString, QString> installed = installedVersions(upgradable);
    const auto isInstalled = [&installed](const QString &icon) {
        const auto found = installed.constFind(icon);
        if (found == installed.cend())
            return false;
        noteFound(*found);
        return true;
    };
    QHash<QString, RpmData> records;
    // A later row of a name takes the place of an earlier one, as in the one-name query.
    for (const RpmData &record : qAsConst(rows))
        records.insert(record.m_name, nameRecord(record, isInstalled));
    return records;
}

QVector<RpmData> CatalogQueries::byType(QueryMode mode, const QString &type)
{
    const QueryResult result(
        Paths::catalogDatabase(),
        QStringLiteral("select s_name,s_icon,s_exec,s_rpm,s_version,s_size,"
                       "s_description,s_star,type from softwares where type=?;"),
        {type});
    QSet<QString> icons;
    for (int row = 0; row < result.rows(); ++row)
        icons.insert(result.text(row, 1));
    // Every row's installed version in one query, not one database open per row.
    const QHash<QString, QString> installed = installedVersions(icons);
    QVector<RpmData> kept;
    for (int row = 0; row < result.rows(); ++row) {
        RpmData record = recordFrom(result, row);
        const auto found = installed.constFind(record.m_icon);
        record.m_state = StateNotInstalled;
        if (found != installed.cend()) {
            noteFound(*found);
            record.m_state = -1;
        }
        if (mode == QueryMode::Everything ||
            (mode == QueryMode::Upgradable && record.m_state == StateNotInstalled))
            kept.append(record);
    }
    return kept;
}

std::optional<QString> CatalogQueries::installedVersion(const QString &name)
{
    const QueryResult result(Paths::localDatabase(), QString::fromUtf8(InstalledVersionSql),
                             {name});
    if (result.rows() == 0)
        return std::nullopt;
    const QString version = result.text(0, 0) + QLatin1Char('-') + result.text(0, 1);
    noteFound(version);
    return version;
}

QString CatalogQueries::lastInstalledVersion(const QString &name)
{
    const QueryResult result(Paths::localDatabase(), QString::fromUtf8(InstalledVersionSql),
                             {name});
    QString version;
    for (int row = 0; row < result.rows(); ++row)
        version = result.text(row, 0) + QLatin1Char('-') + result.text(row, 1);
    return version;
}
