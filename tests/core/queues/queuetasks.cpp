#include "queuetasks.h"

#include "queues/downloadthread.h"
#include "queues/getauththread.h"
#include "queues/installrpmthread.h"
#include "queues/quitinstallthread.h"
#include "queues/updaterpmthread.h"

#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"

#include <QCoreApplication>

const QVector<KindInfo> &kinds()
{
    static const QVector<KindInfo> all = {
        {Kind::Uninstall, "uninstall", "卸载", "uninstallExecEnd", -1},
        {Kind::Install, "install", "安装", "installExecEnd", -2},
        {Kind::QuickInstall, "one-click install", "一键安装", "quickinstallExecEnd", -1},
        {Kind::Download, "download", "下载", "downloadExecEnd", -1},
        {Kind::Upgrade, "upgrade", "升级", "updateRpmExecEnd", -1},
    };
    return all;
}

const KindInfo &info(Kind kind)
{
    for (const KindInfo &entry : kinds())
        if (entry.kind == kind)
            return entry;
    return kinds().first();
}

WorkerPtr makeWorker(Kind kind, ResultRecorder &recorder)
{
    switch (kind) {
    case Kind::Uninstall:
        return watched<GetAuthThread>(recorder);
    case Kind::Install:
        return watched<InstallRpmThread>(recorder);
    case Kind::QuickInstall:
        return watched<QuitInstallThread>(recorder);
    case Kind::Download:
        return watched<DownloadThread>(recorder);
    case Kind::Upgrade:
        break;
    }
    return watched<UpdateRpmThread>(recorder);
}

OperInfo task(Kind kind, const QString &rpmname, const QString &key, const QString &echo)
{
    return OperInfo{info(kind).word, echo, rpmname, key};
}

bool finish(WorkerPtr &worker)
{
    worker->stop();
    const bool ended = worker->wait(Long);
    QCoreApplication::processEvents();
    return ended;
}

TestPackage standard(int index)
{
    return TestRepository::standardPackages().at(index);
}

QString downloadDirectory(const Sandbox &sandbox, const QString &rpmname)
{
    return sandbox.packageDirectory() + '/' + rpmname;
}

QString hostPackages()
{
    return ProcessRunner::run("/usr/bin/rpm", {"-qa"}).output;
}

const QString forward = QStringLiteral("exec \"$SHIM\" \"$@\"");
