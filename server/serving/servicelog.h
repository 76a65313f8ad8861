#pragma once

#include <QString>

// Log lines of the catalog server, one event a line on standard output. When that output is
// the journal's (JOURNAL_STREAM names it) each line starts with its syslog priority ("<3>"),
// which the journal turns into the entry's priority; elsewhere a word says it.
namespace ServiceLog
{

enum class Priority { Error = 3, Warning = 4, Info = 6 };

QString line(Priority priority, const QString &text);

} // namespace ServiceLog
