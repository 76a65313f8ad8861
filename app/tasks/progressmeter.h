#pragma once

#include <QHash>
#include <QMetaType>
#include <QString>

// What one progress measurement starts from: the package and what earlier ones found.
struct ProgressQuery {
    QString rpm;    // the package string: its download directory and file names
    QString yumPid; // yum's process id as last found
    // The complete package files there before the download began, by path, with their state.
    QHash<QString, QString> leftovers;
};

// What one measurement found: yum's process id, and the bytes of this download's file when
// there is one (found is false otherwise, and the measurement changes nothing).
struct ProgressReading {
    QString yumPid;
    QString loadSize;
    bool found = false;
    bool sizeRead = false;
};

Q_DECLARE_METATYPE(ProgressQuery)
Q_DECLARE_METATYPE(ProgressReading)

// The measurement of a download's progress: yum's process id from "ps -aux", this
// download's file among the names yum and dnf write, and its size from "du -sb", each
// through the shell and a scratch file of the process's own.
namespace ProgressMeter
{

// Runs the measurement's commands; on any thread, one at a time (the scratch files are shared).
ProgressReading measure(const ProgressQuery &query);
// The complete package files there now, to be told apart from this download's.
QHash<QString, QString> leftovers(const QString &rpm);

} // namespace ProgressMeter
