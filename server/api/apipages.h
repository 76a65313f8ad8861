#pragma once

#include "fleet/fleetpage.h"
#include "fleet/fleetreport.h"

#include <QByteArray>
#include <QString>

struct sqlite3;

// The live status pages: the status page the service writes as fleet.html with links to a
// page per rollout and per desktop, each one self-contained (no script; its one style sheet
// allowed by its digest in the Content-Security-Policy).
class ApiPages
{
public:
    // fleet.html's content, live (groupOf and requiredWork as FleetPage::html takes them).
    static QString status(sqlite3 *db, qint64 now, const FleetReport::GroupOf &groupOf,
                          const FleetPage::RequiredWork &requiredWork);
    static QString desktop(sqlite3 *db, const QString &address, qint64 now);
    static QString rollout(sqlite3 *db, const QString &package, qint64 now);
    // The policy for page: nothing from anywhere, scripts never, its own style elements by
    // their SHA-256, pictures only inline, no form posting anywhere, never in a frame.
    static QByteArray contentSecurityPolicy(const QString &page);
};
