#pragma once

#include "fleet/fleetpage.h"
#include "fleet/fleetreport.h"
#include "groups/desktopgroups.h"
#include "plans/planwriter.h"
#include "repository/repositorychecks.h"
#include "repository/requirement.h"

struct sqlite3;
class RepositoryFollower;

// "report required" and the status page's required work: per requirement and group, the
// desktops that have done it, that have not yet, whose agent waits for an application in use
// to close (its last word a deferral) and whose agent reported a failure, from the fleet
// database (inventories and results). A requirement without a version counts against the
// version the group is served, as its plans say (a group a rollout or pin holds is done at
// the held version).
class RequiredReport
{
public:
    // Where the sub-command reads what the service holds in memory.
    struct Sources {
        QString database;
        QString overrides;
        QString repository;
        RepositoryChecks checks;
        QString locale;
    };

    RequiredReport(sqlite3 *db, const DesktopGroups &groups, PlanWriter::Served served)
        : m_db(db), m_groups(groups), m_served(std::move(served))
    {
    }

    FleetReport::Table table(const Requirements &requirements) const;

    // The page's section in the running service: the follower's requirements and versions.
    static FleetPage::RequiredWork of(const RepositoryFollower *follower,
                                      const DesktopGroups &groups);

    // The sub-command: reads the repository and the fleet database's rollouts as the service
    // would, and prints the table.
    static int run(const Sources &sources, const DesktopGroups &groups, const QString &format);

private:
    sqlite3 *m_db;
    const DesktopGroups &m_groups;
    const PlanWriter::Served m_served;
};
