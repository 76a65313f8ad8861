#include "sync/httpfetch.h"

#include "engine/shellfunctions.h"
#include "records/clientconfig.h"
#include "records/quoting.h"

#include <QDebug>
#include <QFile>

#include <csignal>
#include <sys/wait.h>

namespace HttpFetch
{

namespace
{
constexpr qint64 Block = 512; // ulimit -f's unit in a POSIX shell
} // namespace

qint64 configuredBound(const char *key)
{
    bool ok = false;
    const qint64 bytes = ClientConfig::value(key).toLongLong(&ok);
    if (!ok || bytes <= 0 || bytes > (qint64(1) << 40))
        return DefaultMaxFileBytes;
    return (bytes + Block - 1) / Block * Block;
}

namespace
{
QString bounded(qint64 maxBytes)
{
    return QStringLiteral("ulimit -f %1 && wget ").arg(qMax<qint64>(1, maxBytes / Block));
}
} // namespace

QString command(const QString &target, const QString &url, qint64 maxBytes)
{
    return bounded(maxBytes) + QStringLiteral("-O ") + Quoting::shell(target) + QLatin1Char(' ') +
           Quoting::shell(url) + QStringLiteral(" --timeout=5 --tries=2");
}

QString listCommand(const QString &directory, const QString &urlList, qint64 maxBytes)
{
    return bounded(maxBytes) + QStringLiteral("-nv -nd -P ") + Quoting::shell(directory) +
           QStringLiteral(" -i ") + Quoting::shell(urlList) +
           QStringLiteral(" --timeout=5 --tries=2");
}

bool run(const QString &command, const QString &target, bool *cut)
{
    const int status = runShell(command);
    // wget killed for growing the file past the shell's limit, seen directly or through sh.
    const bool tooLarge =
        status != -1 && ((WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) ||
                         (WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGXFSZ));
    if (cut)
        *cut = tooLarge;
    if (tooLarge) {
        if (!target.isEmpty())
            QFile::remove(target);
        qWarning().noquote() << QStringLiteral("download removed: larger than its bound: ") +
                                    (target.isEmpty() ? command : target);
        return false;
    }
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace HttpFetch
