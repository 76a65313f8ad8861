#include "fleet/fleetaudit.h"

#include "fleet/fleetdatabase.h"
#include "fleet/fleetstatement.h"

#include <QDateTime>
#include <QFile>

#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

FleetAudit::Actor FleetAudit::Actor::local(const QString &origin)
{
    const uid_t uid = getuid();
    const passwd *entry = getpwuid(uid);
    return {entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("uid %1").arg(uid),
            origin};
}

bool FleetAudit::record(sqlite3 *db, const Actor &actor, const QString &action,
                        const QString &result, qint64 now)
{
    FleetStatement insert(db, "INSERT INTO audit(time, who, origin, action, result)"
                              " VALUES(?1, ?2, ?3, ?4, ?5)");
    // Lines come from people and clients: the row keeps a bounded, one-line copy.
    const auto oneLine = [](const QString &text) {
        QString line = text.left(1000);
        for (QChar &c : line)
            if (c.category() == QChar::Other_Control)
                c = QLatin1Char(' ');
        return line;
    };
    return insert.isValid() && insert.integer(1, now)
                                       .text(2, oneLine(actor.who))
                                       .text(3, oneLine(actor.origin))
                                       .text(4, oneLine(action))
                                       .text(5, oneLine(result))
                                       .run() == 1;
}

FleetAudit::~FleetAudit()
{
    sqlite3_close(m_db);
}

bool FleetAudit::open(const QString &database, int days, QString *error)
{
    // Through FleetDatabase first: the audit table is there once the layout is current.
    FleetDatabase layout;
    if (!layout.open(database, false, error))
        return false;
    m_days = days;
    if (sqlite3_open_v2(QFile::encodeName(database).constData(), &m_db, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK) {
        *error = database + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, 10000);
    return true;
}

bool FleetAudit::record(const Actor &actor, const QString &action, const QString &result)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_db || sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    FleetStatement expire(m_db, "DELETE FROM audit WHERE time < ?1");
    const bool ok = expire.integer(1, now - qint64(m_days) * 86400).run() >= 0 &&
                    record(m_db, actor, action, result, now);
    if (ok && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}
