#include "sync/httpfetch.h"

#include "engine/shellfunctions.h"
#include "records/quoting.h"

#include <sys/wait.h>

namespace HttpFetch
{

QString command(const QString &target, const QString &url)
{
    return QStringLiteral("wget -O ") + Quoting::shell(target) + QLatin1Char(' ') +
           Quoting::shell(url) + QStringLiteral(" --timeout=5 --tries=2");
}

bool run(const QString &command)
{
    const int status = runShell(command);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace HttpFetch
