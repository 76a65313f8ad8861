#include "sync/catalogrequest.h"

#include "sync/cataloggroup.h"

#include "engine/scratchfiles.h"
#include "engine/shellfunctions.h"
#include "records/clientconfig.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "sync/catalogframe.h"
#include "sync/cataloggroup.h"
#include "sync/framefile.h"
#include "sync/httpfetch.h"
#include "sync/installedpackages.h"
#include "sync/reportsender.h"
#include "vqs.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace CatalogRequest
{

void send()
{
    sendRequests();
    // The inventory and every report still unacknowledged follow the join.
    ReportSender::joined();
    replayUnlessOverTransport();
}

void ask()
{
    sendRequests();
    replayUnlessOverTransport();
}

void sendRequests()
{
    const QString local = ClientConfig::localip();
    const QByteArray server = ClientConfig::serverip().toUtf8();
    vqs_message_send(server.constData(), CatalogFrame::joinRequest(local).toUtf8().constData());
    qDebug() << "send";
    vqs_message_send(server.constData(), CatalogFrame::dataRequest(local).toUtf8().constData());
}

void replayUnlessOverTransport()
{
    const QString vqssend = ClientConfig::vqssend();
    if (vqssend == QLatin1String("true"))
        return;

    qDebug() << "vqssend is : " << vqssend;
    replayCatalogFile();
}

void replayCatalogFile()
{
    const QString base = ClientConfig::iconurl() + QLatin1Char('/');
    const QString directory = QDir::cleanPath(Paths::dataDirectory());
    const QString dataFile = Paths::catalogDataFile();
    // Fetched into a directory and a file of the process's own, or not at all: whatever
    // another user put there is neither written through nor replayed.
    if (!ScratchFiles::claimDirectory(directory)) {
        qDebug() << "open file " + dataFile + " failed";
        return;
    }
    runShell(QStringLiteral("mkdir -p ") + Quoting::shell(directory));
    if (!ScratchFiles::createFresh(dataFile)) {
        qDebug() << "open file " + dataFile + " failed";
        return;
    }
    const QString command = HttpFetch::command(
        dataFile,
        base + CatalogGroup::folder(CatalogGroup::current()) + QStringLiteral("data_x86_64"),
        HttpFetch::configuredBound("max_catalog_file"));
    qDebug() << command;
    HttpFetch::run(command, dataFile);
    FrameFile::replay(dataFile, "send message to localhost, mesg : ");
}

void initDatabaseData()
{
    InstalledPackages::SnapshotStyle snapshot;
    // The listing's own name, in the working directory.
    snapshot.file = QFileInfo(Paths::installedListFile()).fileName();
    snapshot.retry = false;
    if (!InstalledPackages::snapshot(snapshot))
        return;

    InstalledPackages::ReloadStyle reload;
    reload.resetSequence = false;
    reload.terminated = false;
    reload.errorPrefix = QStringLiteral("[ERROR][insert local pkgs info]");
    reload.reportRcFirst = true;
    QVector<RpmInfo> installed;
    if (!InstalledPackages::reload(snapshot.file, reload, &installed))
        return;
    InstalledPackages::recomputeSigns(installed, QString());
    qDebug() << "init data end ____ ClientDemon::initDatabaseData()";
}

} // namespace CatalogRequest
