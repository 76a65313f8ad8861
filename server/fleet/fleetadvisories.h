#pragma once

#include "fleet/fleetreport.h"
#include "records/advisory.h"

#include <QString>
#include <QVector>

#include <functional>

struct sqlite3;

// The repository's advisories in the fleet database and who is exposed: a desktop is affected
// by an advisory when it has one of the packages it names at an older version than the one
// named (rpm's order), fixed when at that version or later; a desktop without any of them is
// neither.
class FleetAdvisories
{
public:
    using GroupOf = std::function<QString(const QString &address, const QString &account)>;

    FleetAdvisories(sqlite3 *db, GroupOf groupOf);

    // Replaces the advisories kept with these, in one transaction.
    static bool replace(sqlite3 *db, const QVector<Advisory> &advisories, QString *error);

    // Per advisory (the gravest and most widespread first): severity, desktops fixed and
    // affected, the affected by group.
    FleetReport::Table overview() const;
    // One advisory and the desktops that lack it.
    QVector<FleetReport::Table> advisory(const QString &id) const;
    // The security fixes a desktop lacks.
    FleetReport::Table missingOn(const QString &address) const;
    // Security advisories per severity: desktops affected, for the status page's chart.
    QVector<QPair<QString, int>> affectedBySeverity() const;

private:
    struct Exposure {
        QString advisory;
        QString address;
        QString account;
        QString package;
        QString installed;
        QString fixedIn;
        bool affected = false;
    };
    // Per advisory and desktop, its packages named; an affected package first.
    QVector<Exposure> exposures(const QString &advisory, const QString &address) const;
    QString groupOf(const QString &address, const QString &account) const;

    sqlite3 *m_db;
    GroupOf m_groupOf;
};
