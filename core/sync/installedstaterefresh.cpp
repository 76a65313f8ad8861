#include "sync/installedstaterefresh.h"

#include "records/paths.h"
#include "sync/installedpackages.h"

#include <QDebug>

bool InstalledStateRefresh::refreshTable()
{
    InstalledPackages::SnapshotStyle snapshot;
    snapshot.file = Paths::installedListFile();
    snapshot.retryWarning = QStringLiteral("[WARNING] get local pkgs info failed , try again ...");
    snapshot.logSize = true;
    if (!InstalledPackages::snapshot(snapshot))
        return false;

    InstalledPackages::ReloadStyle reload;
    reload.resetSequence = false;
    reload.logStartWhile = false;
    reload.errorPrefix = QStringLiteral("[ERROR][insert local pkgs info]");
    reload.closeLine = QStringLiteral(">>>HeartThread::initLocalData>>> sqlite3_close DATABASE");
    if (!InstalledPackages::reload(snapshot.file, reload, nullptr))
        return false;
    qDebug() << "init data end ____ HeartThread::initLocalData()";
    return true;
}

bool InstalledStateRefresh::refreshStates()
{
    InstalledPackages::switchToRoot();

    InstalledPackages::SnapshotStyle snapshot;
    snapshot.file = Paths::installedListFile();
    snapshot.retryWarning =
        QStringLiteral("[WARNING] failed to get local pkgs info , try again ...");
    if (!InstalledPackages::snapshot(snapshot))
        return false;

    qDebug() << "[INFO] sqlite DELETE software";
    InstalledPackages::ReloadStyle reload;
    reload.errorPrefix = QStringLiteral("[ERROR][insert local pkgs info]");
    reload.closeLine =
        QStringLiteral(">>>HeartThread::UpdatePushxmlData>>> sqlite3_close DATABASE");
    QVector<RpmInfo> installed;
    if (!InstalledPackages::reload(snapshot.file, reload, &installed))
        return false;
    if (!InstalledPackages::recomputeSigns(
            installed,
            QStringLiteral(">>>HeartThread::initLocalData>>> sqlite3_close SERVER_DATABASE")))
        return false;

    qDebug() << "[INFO] init data end ____ HeartThread::UpdatePushxmlData";
    return true;
}
