#pragma once

#include "sync/reportframe.h"

#include <QString>
#include <QVector>

struct sqlite3;

// The fleet database (SQLite, WAL): the desktops that reported (address, account, first and
// last seen, the sequence of their catalog), the catalog packages installed on each, and the
// results of their operations, kept result_days. Each report is kept once per desktop and id.
class FleetDatabase
{
public:
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
    // received more than resultDays ago go. False when nothing was committed.
    bool store(const QVector<Report> &batch, int resultDays, QString *error);

private:
    bool exec(const char *sql, QString *error);

    sqlite3 *m_db = nullptr;
};
