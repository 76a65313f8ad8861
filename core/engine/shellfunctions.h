#pragma once

#include <QString>

// Download directories and the decoding of system()'s status, shared by every part of the
// core that runs package tools.

// Creates exactly one directory level; true when a directory stands there afterwards.
bool createDirectory(const QString &path);

// Removes the directory and everything in it (hidden entries excepted, as ls shows them).
bool removeDirectory(const QString &path);

// 0 success, -1 failure; a tool that exited with 1 makes it repair the RPM database and
// return 2 so that the caller can run its command once more.
int isExecSuccess(int status);

// The decoding without the repair: exit code 0 is 0, everything else -1.
int decodeExecStatus(int status);

// Runs a command line through the shell, as system() does; the text is UTF-8.
int runShell(const QString &command);

// The RPM database repair: removes the stale environment files and rebuilds the database,
// holding the rpm lock.
void repairRpmDatabase();
