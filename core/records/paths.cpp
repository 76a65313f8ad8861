#include "records/paths.h"

#include <cstdlib>

namespace Paths
{

QString root()
{
    // secure_getenv: a set-uid run must not be redirected by its caller's environment.
    const char *value = secure_getenv("CORVANE_ROOT");
    return value ? QString::fromUtf8(value) : QString();
}

QString underRoot(const QString &path)
{
    return root() + path;
}

QString configFile()
{
    return underRoot(QStringLiteral("/opt/corvane/doc/client-config.ini"));
}
QString catalogDatabase()
{
    return underRoot(QStringLiteral("/opt/corvane/db/server_software.db"));
}
QString localDatabase()
{
    return underRoot(QStringLiteral("/opt/corvane/db/software.db"));
}
QString iconDirectory()
{
    return underRoot(QStringLiteral("/opt/corvane/icons/"));
}

QString trustedKeyDirectory()
{
    return underRoot(QStringLiteral("/etc/corvane/keys"));
}

QString catalogServerConfig()
{
    return underRoot(QStringLiteral("/etc/corvane/catalog-server.conf"));
}
QString frameSequenceFile()
{
    return underRoot(QStringLiteral("/opt/corvane/db/frame-sequence"));
}
QString catalogGroupFile()
{
    return underRoot(QStringLiteral("/opt/corvane/db/catalog-group"));
}
QString reportOutbox()
{
    return underRoot(QStringLiteral("/opt/corvane/db/outbox.db"));
}
QString rpmLockFile()
{
    return underRoot(QStringLiteral("/opt/corvane/db/rpm.lock"));
}
QString agentDatabase()
{
    return underRoot(QStringLiteral("/var/lib/corvane-agent/agent.db"));
}
QString agentDownloadDirectory()
{
    return underRoot(QStringLiteral("/var/lib/corvane-agent/packages"));
}
QString transcriptTemplate()
{
    return underRoot(QStringLiteral("/tmp/.cv_transcript-XXXXXX"));
}
QString fleetDatabase()
{
    return underRoot(QStringLiteral("/var/lib/corvane-catalog-server/fleet.db"));
}

QString installedListFile()
{
    return underRoot(QStringLiteral("/tmp/info.txt"));
}
QString findRpmFile()
{
    return underRoot(QStringLiteral("/tmp/findrpm"));
}
QString existRpmFile()
{
    return underRoot(QStringLiteral("/tmp/existrpm"));
}
QString appIsRunningFile()
{
    return underRoot(QStringLiteral("/tmp/app_isrunning"));
}
QString processYumFile()
{
    return underRoot(QStringLiteral("/tmp/process_yum"));
}
QString packageSizeFile()
{
    return underRoot(QStringLiteral("/tmp/pkgsize"));
}
QString processFile()
{
    return underRoot(QStringLiteral("/tmp/process"));
}
QString dataDirectory()
{
    return underRoot(QStringLiteral("/tmp/.cv_data/"));
}
QString catalogDataFile()
{
    return underRoot(QStringLiteral("/tmp/.cv_data/data_x86_64"));
}
QString pushDataFile()
{
    return underRoot(QStringLiteral("/tmp/.cv_data/push_x86_64"));
}

QString rpmDatabaseDirectory()
{
    return underRoot(QStringLiteral("/var/lib/rpm"));
}
QString translationFile()
{
    return underRoot(QStringLiteral("/usr/share/corvane/qm/qt_zh_CN.qm"));
}
QString helpDocument()
{
    return underRoot(QStringLiteral("/usr/share/doc/help.pdf"));
}

QString pdfViewer()
{
    return QStringLiteral("/usr/bin/atril");
}
QString legacyDatabaseConfig()
{
    return QStringLiteral("doc/database.conf");
}

} // namespace Paths
