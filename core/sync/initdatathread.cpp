#include "sync/initdatathread.h"

#include "engine/shellfunctions.h"
#include "records/paths.h"
#include "sync/installedpackages.h"

#include <QDebug>

InitDataThread::InitDataThread(QObject *parent) : QThread(parent)
{
    runShell(QStringLiteral("yum clean all"));
}

void InitDataThread::run()
{
    InstalledPackages::switchToRoot();

    InstalledPackages::SnapshotStyle snapshot;
    snapshot.file = Paths::installedListFile();
    snapshot.retryWarning =
        QStringLiteral("[WARNING] get local packages info failed , try again ...");
    if (!InstalledPackages::snapshot(snapshot))
        return;

    InstalledPackages::ReloadStyle reload;
    reload.errorPrefix = QStringLiteral("[ERROR][insert software]");
    reload.closeLine = QStringLiteral(">>>InitDataThread::run>>> sqlite3_close DATABASE");
    QVector<RpmInfo> installed;
    if (!InstalledPackages::reload(snapshot.file, reload, &installed))
        return;

    if (!InstalledPackages::recomputeSigns(
            installed, QStringLiteral(">>>InitDataThread::run>>> sqlite3_close SERVER_DATABASE")))
        return;
    qDebug() << "init data end ____ InitDataThread::run";
}
