#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

struct sqlite3;

// What the fleet database says, as tables: the summary (desktops seen today, this week, not
// for a week; the failures of the last day with their text; per package the desktops that
// have it and how its versions spread), one package, one desktop, or the staged rollouts. Read with
// its own read-only connection, so it runs while the service writes.
class FleetReport
{
public:
    struct Table {
        QString name;
        QStringList columns;
        QVector<QStringList> rows;
    };
    enum class Format { Text, Csv, Json };
    // The group the server puts a desktop in; without one every desktop is in "default".
    using GroupOf = std::function<QString(const QString &address, const QString &account)>;

    // now: the clock the day and the week are counted back from.
    FleetReport(sqlite3 *db, qint64 now, GroupOf groupOf = GroupOf());

    QVector<Table> summary() const;
    QVector<Table> package(const QString &name) const;
    QVector<Table> desktop(const QString &address) const;
    // The staged rollouts, newest change first, what each group is served, and the desktops
    // that have a version others are held from (a store never downgrades: they keep it).
    QVector<Table> rollouts() const;
    // The desktops heard from last, newest first.
    QVector<Table> desktops() const;
    // The audit log, newest first.
    QVector<Table> audit() const;
    // The repository's advisories and how many desktops each has reached; one advisory and
    // the desktops that lack it.
    QVector<Table> advisories() const;
    QVector<Table> advisory(const QString &id) const;

    static bool formatOf(const QString &text, Format *format);
    static QString render(const QVector<Table> &tables, Format format);

    // The report sub-command: arguments after "report"; prints to standard output. The exit
    // status.
    static int run(const QString &database, const QStringList &arguments, const QString &format,
                   GroupOf groupOf = GroupOf());

    static constexpr int ListedRows = 100; // rows of a failure or result list

private:
    Table table(const QString &name, const QStringList &columns, const char *sql,
                const QStringList &values) const;

    sqlite3 *m_db;
    qint64 m_now;
    GroupOf m_groupOf;
};
