#pragma once

#include <QByteArray>
#include <QString>

// The catalog and push files: one frame a line, each sent to this store's own receiver.
namespace FrameFile
{

// Sends every line of path to the receiver, read one frame at a time: a line longer than the
// transport carries is skipped, with one line, and never held whole. shown prefixes each line
// in the log; from: the bytes before are left out (they were replayed before). False when the
// file cannot be opened.
bool replay(const QString &path, const char *shown, qint64 from = 0);

// SHA-256 of the first size bytes of path; empty when it holds fewer or cannot be read.
QByteArray digestOfStart(const QString &path, qint64 size);

} // namespace FrameFile
