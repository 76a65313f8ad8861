#include "serving/servicelog.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// JOURNAL_STREAM is inherited by children whose output goes elsewhere: it counts only when it
// names the stream standard output is.
bool outputIsJournal()
{
    const char *stream = std::getenv("JOURNAL_STREAM");
    struct stat info;
    if (!stream || fstat(STDOUT_FILENO, &info) != 0)
        return false;
    unsigned long long device = 0, inode = 0;
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           device == static_cast<unsigned long long>(info.st_dev) &&
           inode == static_cast<unsigned long long>(info.st_ino);
}

} // namespace

QString ServiceLog::line(Priority priority, const QString &text)
{
    static const bool journal = outputIsJournal();
    // One entry per line: a value holding a newline must not start an entry of its own.
    QString flat = text;
    flat.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    if (journal)
        return QStringLiteral("<%1>").arg(int(priority)) + flat;
    switch (priority) {
    case Priority::Error:
        return QStringLiteral("error: ") + flat;
    case Priority::Warning:
        return QStringLiteral("warning: ") + flat;
    case Priority::Info:
        break;
    }
    return flat;
}
