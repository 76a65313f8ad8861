#include "plans/planservice.h"

#include "fleet/fleetstatement.h"
#include "serving/catalogserver.h"
#include "serving/repositoryfollower.h"

#include <QCryptographicHash>

#include <sqlite3.h>

PlanService::PlanService(CatalogServer *server, const RepositoryFollower *follower)
    : m_server(server), m_follower(follower), m_writer(server->fileArea(), &server->signer())
{
}

PlanService::~PlanService()
{
    sqlite3_close(m_db);
}

PlanWriter::Served PlanService::served(const RepositoryFollower *follower)
{
    return [follower](const QString &group, const QString &package) {
        return follower->servedVersion(group, package);
    };
}

bool PlanService::open(const QString &fleetDatabase, QString *error)
{
    if (sqlite3_open_v2(fleetDatabase.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        *error = fleetDatabase + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    return true;
}

bool PlanService::readDesktops(QString *error)
{
    FleetStatement version(m_db, "PRAGMA data_version");
    const qint64 now = version.next() ? version.integerAt(0) : -1;
    if (now == m_dataVersion && now >= 0)
        return true;
    QHash<QString, QString> desktops;
    FleetStatement rows(m_db, "SELECT address, account FROM desktops");
    if (!rows.isValid()) {
        *error = QStringLiteral("fleet database: ") + QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    while (rows.next())
        desktops.insert(rows.textAt(0),
                        m_server->desktopGroups().of(rows.textAt(1), rows.textAt(0)));
    // A halted rollout's version is withdrawn from every plan, the pilots' too.
    QSet<QString> withdrawn;
    FleetStatement halted(m_db, "SELECT package, version FROM rollouts WHERE state = 'halted'");
    while (halted.next())
        withdrawn.insert(halted.textAt(0) + QLatin1Char('-') + halted.textAt(1));
    // Reports change the database every second in a busy fleet; the plans only when the
    // desktops or their groups do.
    if (desktops != m_desktops)
        ++m_desktopsChanged;
    m_desktops = desktops;
    m_withdrawn = withdrawn;
    m_dataVersion = now;
    return true;
}

int PlanService::look(qint64 now, QString *error)
{
    if (!readDesktops(error))
        return -1;
    const Requirements requirements = m_follower->requirements();
    const PlanWriter::Served served = PlanService::served(m_follower);
    // What the plans depend on besides the desktops, group by group.
    QCryptographicHash inputs(QCryptographicHash::Sha256);
    inputs.addData(QByteArray::number(m_desktopsChanged));
    QStringList groups = m_server->desktopGroups().names();
    groups << QStringLiteral("default");
    for (const QString &group : groups)
        inputs.addData(PlanWriter::planFor(QString(), group, requirements, served, m_withdrawn)
                           .compose()
                           .toUtf8());
    // Each plan is signed again before the hour is out; a minute's look finds those due.
    if (inputs.result() == m_lastInputs && now - m_lastWrite < 60)
        return 0;
    const int written = m_writer.write(m_desktops, requirements, served, m_withdrawn, now, error);
    if (written >= 0) {
        m_lastInputs = inputs.result();
        m_lastWrite = now;
    }
    return written;
}
