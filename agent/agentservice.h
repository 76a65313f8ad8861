#pragma once

#include "agentdatabase.h"
#include "plangate.h"
#include "planrunner.h"
#include "sync/planframe.h"
#include "sync/reportoutbox.h"

#include <QString>

// The agent's loop: fetch this desktop's plan from the file area (every fetchSeconds, with
// jitter so that a fleet does not come at once), let it through the gate, keep it, and run
// what is due. It only sends on the transport (its reports), never receives.
class AgentService
{
public:
    struct Settings {
        qint64 fetchSeconds = 15 * 60;
        QString database;
        QString keyDirectory;
        QString desktop; // this desktop's address (client-config localip)
        QString baseUrl; // the file area (client-config iconurl)
    };

    explicit AgentService(const Settings &settings);
    bool open(QString *error);

    // One fetch and gate; true when a new plan was taken. The reason of a refusal in *said.
    bool fetch(qint64 now, QString *said);
    // Runs what is due of the plan kept; the seconds until the next look.
    qint64 work(const QDateTime &now);
    // The seconds until the next fetch: fetchSeconds give or take a quarter, by chance.
    qint64 nextFetch() const;

private:
    Settings m_settings;
    AgentDatabase m_database;
    ReportOutbox m_outbox;
    PlanGate m_gate;
    PlanRunner m_runner;
    PlanFrame m_plan; // the last plan accepted
};
