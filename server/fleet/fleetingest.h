#pragma once

#include "fleet/fleetdatabase.h"
#include "fleet/fleetpage.h"
#include "fleet/fleetreport.h"
#include "records/advisory.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

// Reports on their way into the fleet database: the serving thread only checks a desktop's
// rate and queues; one writer thread takes what has queued, stores it in one transaction and
// then has it acknowledged, so an acknowledgement never comes before the report is on disk.
// A report over the rate or the queue's bound is dropped unacknowledged: its store sends it
// again later.
class FleetIngest
{
public:
    struct Settings {
        QString database;
        int resultDays = 90;
        int queueLimit = 20000;
        qint64 queueBytes = 64 * 1024 * 1024; // of the reports queued, as received
        int maxBuckets = 100000; // desktops whose rate is kept; the one idle longest goes
        int burst = 200;         // reports a desktop may send at once
        double perSecond = 2.0;  // and then on average
        QString reportDir;       // where fleet.html goes; none when empty
        int reportIntervalMs = 60000;
        FleetReport::GroupOf groupOf; // the page's advisories by group
    };
    // Called on the writer thread once a batch is committed: a desktop and the ids to
    // acknowledge to it.
    using Acknowledge = std::function<void(const QString &desktop, const QStringList &ids)>;
    using Log = std::function<void(const QString &line)>;

    FleetIngest(const Settings &settings, Acknowledge acknowledge, Log log);
    // Stores what is queued, then stops the writer.
    ~FleetIngest();

    // Opens the database and starts the writer; false with *error when it cannot be opened.
    bool start(QString *error);
    // Charges one report to the desktop's rate; false when it is over it (said at most once
    // a minute per desktop).
    bool allow(const QString &desktop);
    // Queues a checked report; false when the queue is full (said at most once a minute).
    bool submit(FleetDatabase::Report report);
    // Until everything submitted so far is stored (the report command's tests, the bench).
    void flush();
    // The database changed otherwise (a rollout's state): the page is written again.
    void refreshPage();
    // The page's required work from now on (the plans' report, once the repository is read).
    void setRequiredWork(FleetPage::RequiredWork requiredWork);
    // The repository's advisories, as just read: kept by the writer, then the page follows.
    void setAdvisories(QVector<Advisory> advisories);

private:
    struct Bucket {
        QString desktop;
        double tokens = 0;
        qint64 lastMs = 0;
        qint64 saidMs = -1000000;
        int dropped = 0;
    };
    void write();
    void writePage();
    qint64 nowMs() const;

    const Settings m_settings;
    const Acknowledge m_acknowledge;
    const Log m_log;
    FleetDatabase m_db;
    std::mutex m_lock;
    std::condition_variable m_changed;
    QVector<FleetDatabase::Report> m_queue; // guarded by m_lock
    // Least recently charged first: finding, charging and forgetting one is O(1).
    std::list<Bucket> m_buckets;                            // guarded by m_lock
    QHash<QString, std::list<Bucket>::iterator> m_bucketOf; // guarded by m_lock
    qint64 m_queuedBytes = 0;                               // guarded by m_lock
    qint64 m_fullSaidMs = -1000000;                         // guarded by m_lock
    bool m_stop = false;                                    // guarded by m_lock
    bool m_pageOwed = false;                       // guarded by m_lock: refreshPage was called
    std::optional<QVector<Advisory>> m_advisories; // guarded by m_lock: to be stored
    FleetPage::RequiredWork m_requiredWork;        // guarded by m_lock
    bool m_pageDue = false;                        // the writer's own: stored since the last page
    qint64 m_pageWrittenMs = 0;                    // the writer's own
    quint64 m_submitted = 0;                       // guarded by m_lock
    quint64 m_stored = 0;                          // guarded by m_lock
    std::thread m_writer;
};
