#pragma once

#include "records/paths.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// The store's reports waiting for the catalog server's acknowledgement, in a SQLite file of
// their own, so that nothing is lost while the server or the broker is away or the store
// restarts. Each report gets the id INSTANCE-N: INSTANCE is random and made with the file, N
// never repeats within it, so a recreated outbox cannot reuse an id the server has seen.
// Bounded: beyond maxResults the oldest results go (one line), and only the latest inventory
// and the latest deferral of each package are kept. Safe to use from several threads of the process
// at once.
class ReportOutbox
{
public:
    static constexpr int DefaultMaxResults = 1000;

    struct Entry {
        QString id;
        QString frame;
    };

    explicit ReportOutbox(const QString &path = Paths::reportOutbox(),
                          int maxResults = DefaultMaxResults);

    // A task's end: its operation word, package string, result code and echo text; or
    // OperationWord::deferral() with the package the work would have installed (code 0).
    bool recordResult(const QString &oper, const QString &rpm, int code, const QString &echo);
    // The catalog's packages installed here and how fresh the catalog is, replacing the
    // inventory not yet acknowledged.
    bool recordInventory();
    // The oldest reports first, at most limit.
    QVector<Entry> pending(int limit) const;
    // Removes these reports; the number removed.
    int acknowledge(const QStringList &ids);

    // The sequence of the last catalog frame the store accepted.
    static quint64 catalogSequence();
    // The catalog's packages installed on this desktop, as name-version-release, sorted;
    // nullopt when the tables could not be read.
    static std::optional<QStringList> installedCatalogPackages();

private:
    // kind: result; or inventory, "deferral NAME-V-R", each replacing the one unsent before.
    bool record(const QString &kind, const QString &frameWithoutId, qint64 time);

    QString m_path;
    int m_maxResults;
};
