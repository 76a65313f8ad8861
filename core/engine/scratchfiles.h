#pragma once

#include <QString>

// The fixed scratch files under /tmp that root's shell commands write and the store reads
// back. Any local user can create those names first, so none is used as it is found.
namespace ScratchFiles
{

// Removes whatever stands at path (a link itself, never what it points to) and creates an
// empty file there itself, exclusively, without following links, mode 0600. A redirection
// into it then truncates the process's own file. False when that fails: the command must
// not run and the file counts as unreadable.
bool createFresh(const QString &path);

// Makes path a directory of the process's own user that nobody else can write to. What
// stands there otherwise (a link, a file, someone else's directory) is moved aside first.
// False when that fails: nothing may be written to or read from the directory then.
bool claimDirectory(const QString &path);

} // namespace ScratchFiles
