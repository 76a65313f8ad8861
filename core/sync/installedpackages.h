#pragma once

#include "records/rpminfo.h"

#include <QString>
#include <QVector>

// The procedures that bring the installed-package table (software) and the install state of
// every catalog row (sign) up to date with the RPM database. The initial load, the frame
// receiver and the facade's synchronous reload share them; each caller keeps its own log texts.
namespace InstalledPackages
{

struct SnapshotStyle {
    QString file;         // where rpm -qa writes its listing
    bool retry = true;    // an empty listing repairs the RPM database and tries again
    QString retryWarning; // logged before each new attempt
    bool logSize = false; // log the listing's size at each attempt
};

struct ReloadStyle {
    bool resetSequence = true;  // also reset the table's AUTOINCREMENT counter
    bool logStartWhile = true;  // the "start while" line before the inserts
    bool terminated = true;     // statements end with ";"
    QString errorPrefix;        // "[ERROR][insert software]" and the like
    bool reportRcFirst = false; // report the result code before the statement
    QString closeLine;          // logged when the failed reload closes the database
};

// Switches the process to root for the package tools and logs the ids.
void switchToRoot();

// Lists the installed packages into style.file. Without retry it tries once; with retry it
// does not return until the listing is non-empty. False when the listing cannot be read.
bool snapshot(const SnapshotStyle &style);

// One line of the listing, e.g. my-tool-2.1-3.x86_64: the architecture suffix is dropped.
// False for a line the reload skips (no ".", or fewer than two "-" separated fields).
bool parseSnapshotLine(const QString &line, RpmInfo *info);

// Rewrites software from the listing in one transaction; on any failure the table keeps its
// previous content. installed (may be null) receives the packages in listing order.
bool reload(const QString &snapshotFile, const ReloadStyle &style, QVector<RpmInfo> *installed);

// The install state of catalog package string rpm: 0 not installed, 1 upgradable, 2 current
// or newer. -1 when rpm holds no "-" and so names no package.
int signFor(const QString &rpm, const QVector<RpmInfo> &installed);

// Recomputes sign for every catalog row in one transaction. closeLine is logged when a
// failed update closes the database.
bool recomputeSigns(const QVector<RpmInfo> &installed, const QString &closeLine);

} // namespace InstalledPackages
