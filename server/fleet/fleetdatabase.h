#pragma once

#include "sync/reportframe.h"

#include <QSet>
#include <QString>
#include <QVector>

struct sqlite3;

// The fleet database (SQLite, WAL): the desktops that reported (address, account, first and
// last seen, the sequence of their catalog), the catalog packages installed on each, and the
// results of their operations, kept result_days. Each report is kept once per desktop and id.
// No desktop fills it: past its bounds what it sends is counted, not kept.
class FleetDatabase
{
public:
    static constexpr int ResultsPerDay = 200;  // kept per desktop and day of the server's
    static constexpr int UnknownPackages = 50; // kept of names the repository does not offer
    static constexpr qint64 ClockSkew = 3600;  // an inventory's time ahead of the server's
    struct Report {
        QString desktop;
        QString account;
        qint64 received = 0; // the server's clock
        ReportFrame frame;
        int bytes = 0; // of the frame as received: what it holds in the ingest's queue
    };

    FleetDatabase() = default;
    ~FleetDatabase();
    FleetDatabase(const FleetDatabase &) = delete;
    FleetDatabase &operator=(const FleetDatabase &) = delete;

    // Creates the file and its tables when missing and brings a file of an earlier server up to
    // date; a file of a later server is refused and left as it is. readOnly: for the report,
    // while the service writes.
    bool open(const QString &path, bool readOnly, QString *error);
    sqlite3 *handle() const { return m_db; }

    // Stores the batch in one transaction (a report seen before changes nothing); results
    // received more than resultDays ago go. False when nothing was committed. An inventory's
    // time past the server's clock by more than ClockSkew counts as the time received.
    bool store(const QVector<Report> &batch, int resultDays, QString *error);

private:
    bool exec(const char *sql, QString *error);
    // The names the repository offers, read again once another connection wrote (the rollout
    // book keeps them).
    const QSet<QString> &offered();

    sqlite3 *m_db = nullptr;
    QSet<QString> m_offered;
    qint64 m_offeredVersion = -1; // PRAGMA data_version when read
};
