#pragma once

#include "plans/planwriter.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>

struct sqlite3;
class CatalogServer;
class RepositoryFollower;

// Keeps every desktop's plan in step: the desktops and the halted rollouts come from the fleet
// database (read-only; the service's writer fills it), the requirements and the versions each
// group is served from the repository follower. Looked at every second; plans are written when
// what they say changes and at least hourly.
class PlanService
{
public:
    PlanService(CatalogServer *server, const RepositoryFollower *follower);
    ~PlanService();
    PlanService(const PlanService &) = delete;
    PlanService &operator=(const PlanService &) = delete;

    // The versions groups are served, as the follower has them now: what plans name.
    static PlanWriter::Served served(const RepositoryFollower *follower);

    bool open(const QString &fleetDatabase, QString *error);
    // Writes what is due; the number of plans written, -1 with *error set.
    int look(qint64 now, QString *error);

private:
    bool readDesktops(QString *error);

    CatalogServer *const m_server;
    const RepositoryFollower *const m_follower;
    PlanWriter m_writer;
    sqlite3 *m_db = nullptr;
    qint64 m_dataVersion = -1;
    QHash<QString, QString> m_desktops; // address to group
    quint64 m_desktopsChanged = 0;      // counts changes of m_desktops
    QSet<QString> m_withdrawn;
    QByteArray m_lastInputs;
    qint64 m_lastWrite = 0;
};
