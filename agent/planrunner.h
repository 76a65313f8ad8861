#pragma once

#include "agentdatabase.h"
#include "sync/planframe.h"

#include <QDateTime>
#include <QString>

class ReportOutbox;

// Carries out the items of an accepted plan when they are due: each at its desktop's slot of
// its window (past the deadline, at once after a short notice), the user told before, after and
// when the work is deferred. An application in use is not replaced before the deadline and a grace
// period have passed; the item waits (deferred, no failure). The rpm work holds the store's rpm
// lock, and each result goes into the store's report outbox as a store's would.
class PlanRunner
{
public:
    static constexpr qint64 GraceSeconds = 3600;
    static constexpr qint64 SoonSeconds = 300; // the second notice, shortly before
    static constexpr qint64 LongestWait = 15 * 60;

    PlanRunner(AgentDatabase *database, ReportOutbox *outbox, const QString &identity)
        : m_database(database), m_outbox(outbox), m_identity(identity)
    {
    }

    // Does what is due at now; the seconds until something may be due next (LongestWait at
    // most).
    qint64 run(const PlanFrame &plan, const QDateTime &now);

private:
    // The version-release of package installed here; empty when it is not installed.
    static QString installedVersion(const QString &package);
    bool isSatisfied(const PlanFrame::Item &item, QString *installed) const;
    // Into the outbox as a result of its own word (defer, code 0), at most once a day.
    void reportDeferral(const PlanFrame::Item &item, const QString &installed,
                        const QDateTime &now);
    void execute(const PlanFrame::Item &item, const QString &installed, const QDateTime &now);

    AgentDatabase *const m_database;
    ReportOutbox *const m_outbox;
    const QString m_identity;
};
