#pragma once

#include "fleet/fleetreport.h"
#include "groups/desktopgroups.h"
#include "repository/requirement.h"

struct sqlite3;

// "report required": per requirement and group, the desktops that have done it, that have not
// yet, and whose agent reported a failure, from the fleet database (inventories and results).
// A requirement without a version counts against the repository's newest (a group a rollout
// holds back shows its desktops pending until it is released).
class RequiredReport
{
public:
    RequiredReport(sqlite3 *db, const DesktopGroups &groups) : m_db(db), m_groups(groups) {}

    FleetReport::Table table(const Requirements &requirements) const;

    // The sub-command; overrides: the override file the requirements are read from.
    static int run(const QString &database, const QString &overrides, const DesktopGroups &groups,
                   const QString &format);

private:
    sqlite3 *m_db;
    const DesktopGroups &m_groups;
};
