#include "agentservice.h"

#include "records/paths.h"
#include "sync/httpfetch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace
{
constexpr qint64 MaxPlanBytes = 512 * 1024;

QString keptPlanFile(const QString &database)
{
    return database + QStringLiteral(".plan");
}
} // namespace

AgentService::AgentService(const Settings &settings)
    : m_settings(settings), m_gate(settings.keyDirectory, settings.desktop),
      m_runner(&m_database, &m_outbox, settings.desktop)
{
}

bool AgentService::open(QString *error)
{
    QDir().mkpath(QFileInfo(m_settings.database).absolutePath());
    QDir().mkpath(Paths::agentDownloadDirectory());
    if (!m_database.open(m_settings.database)) {
        *error = m_settings.database + QStringLiteral(": cannot be opened");
        return false;
    }
    // The plan acted on last, checked again: a restart goes on with it (its sequence is
    // already the last one, so only the signature, desktop and bounds are checked anew).
    QFile kept(keptPlanFile(m_settings.database));
    if (kept.open(QIODevice::ReadOnly)) {
        if (m_gate.admit(kept.read(MaxPlanBytes), 0, QDateTime::currentSecsSinceEpoch()) ==
                PlanGate::Verdict::Accepted &&
            m_gate.sequence() == m_database.lastSequence())
            m_plan = m_gate.plan();
    }
    return true;
}

bool AgentService::fetch(qint64 now, QString *said)
{
    if (m_settings.desktop.isEmpty() || m_settings.baseUrl.isEmpty()) {
        *said = QStringLiteral("no localip or iconurl in the client configuration");
        return false;
    }
    const QString target = m_settings.database + QStringLiteral(".fetched");
    QFile::remove(target);
    const QString url =
        m_settings.baseUrl + QStringLiteral("/.cv_data/plans/") + m_settings.desktop;
    if (!HttpFetch::run(HttpFetch::command(target, url, MaxPlanBytes), target)) {
        *said = QStringLiteral("plan not fetched: ") + url;
        return false;
    }
    QFile file(target);
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.read(MaxPlanBytes) : QByteArray();
    file.close();
    QFile::remove(target);
    const PlanGate::Verdict verdict = m_gate.admit(text, m_database.lastSequence(), now);
    if (verdict != PlanGate::Verdict::Accepted) {
        // The plan acted on last stays in force; a plan not newer is no news.
        *said = verdict == PlanGate::Verdict::Replayed
                    ? QString()
                    : QStringLiteral("plan refused: ") + QLatin1String(PlanGate::reasonOf(verdict));
        return false;
    }
    QFile kept(keptPlanFile(m_settings.database));
    if (!kept.open(QIODevice::WriteOnly | QIODevice::Truncate) || kept.write(text) != text.size() ||
        !kept.flush() || !m_database.setLastSequence(m_gate.sequence())) {
        *said = QStringLiteral("plan not kept: ") + kept.fileName();
        return false;
    }
    m_plan = m_gate.plan();
    *said = QStringLiteral("plan taken: %1 items").arg(m_plan.items.size());
    return true;
}

qint64 AgentService::work(const QDateTime &now)
{
    return m_runner.run(m_plan, now);
}

qint64 AgentService::nextFetch() const
{
    const qint64 quarter = qMax<qint64>(1, m_settings.fetchSeconds / 4);
    return m_settings.fetchSeconds - quarter +
           qint64(QRandomGenerator::global()->bounded(int(2 * quarter + 1)));
}
