#pragma once

#include <QString>

// The catalog and push files: one frame a line, each sent to this store's own receiver.
namespace FrameFile
{

// Sends every line of path to the receiver, read one frame at a time: a line longer than the
// transport carries is skipped, with one line, and never held whole. shown prefixes each line
// in the log. False when the file cannot be opened.
bool replay(const QString &path, const char *shown);

} // namespace FrameFile
