#pragma once

#include "fleet/fleetreport.h"

#include <QString>

#include <functional>

struct sqlite3;

// The status page: one self-contained fleet.html (no script, style sheet or picture from
// elsewhere; the chart is inline SVG) with the report's summary, the failures, the version
// spread of each package, the desktops not heard from, the stale catalogs, the staged
// rollouts (the halted ones counted), the required work and the security advisories (desktops
// affected by severity, charted). Written beside and renamed over, so a reader never sees half a
// page.
class FleetPage
{
public:
    // The required work per requirement and group, read on the page's connection (the plans
    // make it: the fleet knows no requirement); none: the page has no such section.
    using RequiredWork = std::function<FleetReport::Table(sqlite3 *db)>;

    static QString html(sqlite3 *db, qint64 now,
                        const FleetReport::GroupOf &groupOf = FleetReport::GroupOf(),
                        const RequiredWork &requiredWork = RequiredWork());
    // A page of the same look: title, body (HTML) and the time it was written.
    static QString document(const QString &title, const QString &body, qint64 now);
    // A report's table, its cells escaped.
    static QString tableHtml(const FleetReport::Table &table, const QString &id);
    // Writes DIR/fleet.html; false with *error set when it could not be.
    static bool write(sqlite3 *db, qint64 now, const QString &directory, QString *error,
                      const FleetReport::GroupOf &groupOf = FleetReport::GroupOf(),
                      const RequiredWork &requiredWork = RequiredWork());
};
