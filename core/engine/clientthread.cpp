#include "engine/clientthread.h"

#include "engine/privileges.h"
#include "engine/shellfunctions.h"
#include "records/clientconfig.h"
#include "records/codes.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "records/version.h"
#include "storage/database.h"

#include <QDebug>

#include <unistd.h>

namespace
{

QString packageDirectory(const QString &key)
{
    return ClientConfig::pkgpath() + QLatin1Char('/') + key;
}

// An empty name stays empty, so the command reads as the tools would see it unquoted.
QString argument(const QString &value)
{
    return value.isEmpty() ? value : Quoting::shell(value);
}

QString downloadCommand(const QString &directory, const QString &name)
{
    return QStringLiteral("yum install --downloadonly --downloaddir ") + Quoting::shell(directory) +
           QLatin1Char(' ') + argument(name);
}

QString upgradeCommand(const QString &directory)
{
    // The glob stays outside the quotes: every file the download left there.
    return QStringLiteral("rpm -Uvh ") + Quoting::shell(directory) + QStringLiteral("/*");
}

// The key names a directory below pkgpath that is created and removed recursively as root,
// and its name part becomes a tool argument: anything but one plain component is refused.
bool acceptKey(const QString &key)
{
    if (Quoting::isSafePathComponent(key))
        return true;
    qDebug() << "refused package key" << key;
    return false;
}

void markInstalled(const QString &key)
{
    const QByteArray rpm = key.toUtf8();
    exec_sql(Paths::catalogDatabase().toUtf8().constData(),
             "update softwares set sign='2' where s_rpm=?", rpm.constData());
}

} // namespace

ClientThread::ClientThread(const QString &key, int type, QObject *parent)
    : QThread(parent), m_key(key), m_type(type), m_endValue(ResultNotFinished), m_downloadFlag(-1)
{
}

int ClientThread::setEndValue() const
{
    return m_endValue.load(std::memory_order_acquire);
}

int ClientThread::downloadFlag() const
{
    return m_downloadFlag.load(std::memory_order_acquire);
}

int ClientThread::isThreadExecSuccess(int status)
{
    return decodeExecStatus(status);
}

bool ClientThread::createDirectoryThread(const QString &path)
{
    return createDirectory(path);
}

bool ClientThread::removeDirectoryThread(const QString &path)
{
    return removeDirectory(path);
}

void ClientThread::run()
{
    Privileges::switchToRoot();
    qDebug() << "gid:::" << getgid() << "uid::" << getuid();

    const char *label = nullptr;
    int result = ResultNotFinished;
    switch (m_type) {
    case OperationDownload:
        label = "download_software:::::::::::::::::::";
        result = download_software(m_key);
        break;
    case OperationInstall:
        label = "install_softWare:::::::::::::::::::";
        result = install_softWare(m_key);
        break;
    case OperationQuickInstall:
        label = "quickinstall_softWare:::::::::::::::::::";
        result = quickinstall_softWare(m_key);
        break;
    case OperationUpdate:
        label = "update_softWare:::::::::::::::::::";
        result = update_softWare(m_key);
        break;
    case OperationRemove:
        label = "remove_softWare:::::::::::::::::::";
        result = remove_softWare(m_key);
        break;
    default:
        return;
    }
    m_endValue.store(result, std::memory_order_release);
    qDebug() << label << result;
}

int ClientThread::download_software(const QString &key)
{
    if (!acceptKey(key))
        return ResultFailure;
    const RpmInfo package = splitPackageString(key);
    const QString directory = packageDirectory(key);
    runShell(QStringLiteral("yum clean all"));
    const QString command = downloadCommand(directory, package.m_name);

    m_downloadFlag.store(1, std::memory_order_release);
    createDirectoryThread(directory);
    const int result = isThreadExecSuccess(runShell(command));
    // A failed download leaves nothing behind.
    if (result != ResultSuccess)
        removeDirectoryThread(directory);
    qDebug() << "downloadSoftware end " << command;
    if (result != ResultSuccess)
        return ResultFailure;
    m_downloadFlag.store(0, std::memory_order_release);
    return ResultSuccess;
}

int ClientThread::install_softWare(const QString &key)
{
    if (!acceptKey(key))
        return ResultFailure;
    const QString directory = packageDirectory(key);
    if (isThreadExecSuccess(runShell(upgradeCommand(directory))) != ResultSuccess) {
        // The downloaded files stay for a later attempt.
        qDebug() << "system error!";
        return ResultFailure;
    }
    removeDirectoryThread(directory);

    const RpmInfo package = splitPackageString(key);
    const QByteArray name = package.m_name.toUtf8();
    const QByteArray version = package.m_version.toUtf8();
    const QByteArray release = package.m_release.toUtf8();
    exec_sql(Paths::localDatabase().toUtf8().constData(),
             "insert into software(name,version,release_ver) values(?,?,?)", name.constData(),
             version.constData(), release.constData());
    markInstalled(key);
    return ResultSuccess;
}

int ClientThread::quickinstall_softWare(const QString &key)
{
    if (download_software(key) != ResultSuccess)
        return ResultFailure;
    if (install_softWare(key) != ResultSuccess)
        return ResultInstallFailed;
    return ResultSuccess;
}

int ClientThread::update_softWare(const QString &key)
{
    if (!acceptKey(key))
        return ResultFailure;
    const RpmInfo package = splitPackageString(key);
    const QString directory = packageDirectory(key);
    runShell(QStringLiteral("yum clean all"));
    // The whole key, as the upgrade worker asks for its package: given a bare name of an
    // installed package, dnf (yum on current systems) reports it as installed and fetches
    // nothing, and name-version may fetch another release than the one recorded below.
    const QString command = downloadCommand(directory, key);
    qDebug() << "cmd**************##############" << command;

    // Start from an empty directory so that only the new version is installed.
    removeDirectoryThread(directory);
    createDirectoryThread(directory);
    if (isThreadExecSuccess(runShell(command)) != ResultSuccess) {
        removeDirectoryThread(directory);
        qDebug() << "system error!";
        return ResultFailure;
    }
    if (isThreadExecSuccess(runShell(upgradeCommand(directory))) != ResultSuccess) {
        removeDirectoryThread(directory);
        qDebug() << "system error!";
        return ResultInstallFailed;
    }
    removeDirectoryThread(directory);

    const QByteArray name = package.m_name.toUtf8();
    const QByteArray version = package.m_version.toUtf8();
    const QByteArray release = package.m_release.toUtf8();
    exec_sql(Paths::localDatabase().toUtf8().constData(),
             "update software set version=?,release_ver=? where name=?", version.constData(),
             release.constData(), name.constData());
    markInstalled(key);
    return ResultSuccess;
}

int ClientThread::remove_softWare(const QString &key)
{
    qDebug() << "uid=" << getuid() << "  gid=" << getgid();
    if (!acceptKey(key))
        return ResultFailure;
    const RpmInfo package = splitPackageString(key);
    const QString command =
        QStringLiteral("rpm -e ") + argument(package.m_name) + QStringLiteral(" --nodeps");
    qDebug() << "remove cmd : " << command;
    if (isThreadExecSuccess(runShell(command)) != ResultSuccess)
        return ResultFailure;

    const QByteArray name = package.m_name.toUtf8();
    const QByteArray rpm = key.toUtf8();
    exec_sql(Paths::localDatabase().toUtf8().constData(), "delete from software where name=?",
             name.constData());
    exec_sql(Paths::catalogDatabase().toUtf8().constData(),
             "update softwares set sign='0' where s_rpm=?", rpm.constData());
    return ResultSuccess;
}
