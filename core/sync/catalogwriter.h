#pragma once

#include "storage/sqlconnection.h"
#include "sync/catalogassembly.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class CatalogFrame;
struct CatalogPackage;

// Applies a frame's packages to the catalog database in one transaction, and deletes the rows
// a whole catalog no longer names. Statements run with their values bound; the log shows
// them with the values in literals.
class CatalogWriter
{
public:
    // Called for each package before its row is written, while the frame's look-ups read the
    // catalog as it was before the frame.
    using PackageSeen = std::function<void(const CatalogPackage &package)>;

    // The rpm of every package whose s_rpm changed, or none when the frame left no trace.
    // A sequence other than 0 becomes the last accepted in the same transaction.
    std::optional<QStringList> store(const CatalogFrame &frame, const PackageSeen &seen,
                                     quint64 sequence = 0);
    // For a frame that stores no rows: its sequence alone. False when it was not committed.
    bool storeSequence(quint64 sequence);
    // The catalog was found current (a heartbeat): the freshness alone.
    bool storeFreshness();
    // A whole catalog in one frame is reconciled at once, one in parts when its last part is
    // in. False only when the database cannot be opened.
    bool reconcile(const CatalogFrame &frame);
    // Whether frame is a further part of the catalog being gathered.
    bool isGathering(const CatalogFrame &frame) const { return m_assembly.isGathering(frame); }

    // 2 when no row has this name, 0 when its s_rpm is rpm, 1 when it differs.
    int rowState(const QString &name, const QString &rpm);
    // The first column of a one-parameter query, on the frame's reading connection while
    // one is open.
    QStringList lookUp(const char *sql, const QString &value);

private:
    // Deletes the rows whose name the catalog lacks (name -> its position, from 1). False
    // only when the database cannot be opened; a failed deletion keeps every row and lets the
    // frame finish.
    bool deleteMissing(const QHash<QString, int> &catalog);
    // The package's advisories beside its row (none: no row of them); an SQLite code.
    static int storeAdvisories(SqlConnection &db, const CatalogPackage &package, bool deleting);

    CatalogAssembly m_assembly; // the parts of a whole catalog stored so far
    SqlConnection m_lookup;     // open while a frame is stored
};
