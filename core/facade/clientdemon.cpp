#include "facade/clientdemon.h"

#include "engine/shellfunctions.h"
#include "facade/catalogqueries.h"
#include "facade/catalogsync.h"
#include "facade/packageoperations.h"
#include "records/clientconfig.h"
#include "sync/catalogrequest.h"

#include <QTimer>

#include <cstdio>

ClientDemon::ClientDemon()
    : m_updateFlag(0), m_sync(new CatalogSync(this)), m_operations(new PackageOperations(this))
{
    const int refresh = ClientConfig::refresh().toInt();
    const QString pkgpath = ClientConfig::pkgpath();
    createDirectory(pkgpath + QLatin1Char('/'));

    connect(m_sync, &CatalogSync::catalogChanged, this, &ClientDemon::recvServerDataSlot);
    connect(m_sync, &CatalogSync::refreshEnded, this, &ClientDemon::updateEnd);
    // The first catalog request goes as soon as the receiver is attached.
    m_sync->start();

    std::printf("[QString toInt] configfile refresh time = %d\n", refresh);
    std::fflush(stdout);
    if (refresh > 0)
        m_sync->startPushPoller();
}

ClientDemon::~ClientDemon()
{
    m_sync->stop();
}

void ClientDemon::updateData()
{
    m_sync->refresh();
    QTimer::singleShot(1000, this, &ClientDemon::sendMessageSlot);
}

void ClientDemon::initData() {}

void ClientDemon::create_database() {}

void ClientDemon::initDatabaseData()
{
    CatalogRequest::initDatabaseData();
}

void ClientDemon::recvServerDataSlot(const QString &data, const QStringList &packages)
{
    Q_UNUSED(data);
    if (!packages.isEmpty())
        emit updateAppVersion(packages);
    m_updateFlag = 1;
    emit recvUpdateAppSignal(1);
}

void ClientDemon::sendMessageSlot()
{
    m_sync->requestCatalog();
}

void ClientDemon::getDataSlot(int flag)
{
    m_operations->setDownloadFlag(flag);
}

QVector<RpmData> ClientDemon::list(QueryMode mode, const QString &category, const QString &keyword)
{
    return CatalogQueries::search(mode, category, keyword);
}

RpmData ClientDemon::record(const QString &name)
{
    return CatalogQueries::byName(QueryMode::Everything, name);
}

QHash<QString, RpmData> ClientDemon::records(const QSet<QString> &names)
{
    return CatalogQueries::byNames(QueryMode::Everything, names);
}

QVector<RpmData> ClientDemon::selectSoftware(int mode, const QString &category,
                                             const QString &keyword)
{
    const auto queryMode = CatalogQueries::modeOf(mode);
    return queryMode ? CatalogQueries::search(*queryMode, category, keyword) : QVector<RpmData>();
}

QVector<RpmData> ClientDemon::selectAllSoftware(int mode, const QString &sql)
{
    const auto queryMode = CatalogQueries::modeOf(mode);
    return queryMode ? CatalogQueries::select(*queryMode, sql) : QVector<RpmData>();
}

RpmData ClientDemon::selectNameSoftware(int mode, const QString &name)
{
    // No mode changes a single record, so any mode gives the record.
    return CatalogQueries::byName(CatalogQueries::modeOf(mode).value_or(QueryMode::Everything),
                                  name);
}

QHash<QString, RpmData> ClientDemon::selectNamesSoftware(int mode, const QSet<QString> &names)
{
    return CatalogQueries::byNames(CatalogQueries::modeOf(mode).value_or(QueryMode::Everything),
                                   names);
}

QVector<RpmData> ClientDemon::selectTypeSoftware(int mode, const QString &type)
{
    const auto queryMode = CatalogQueries::modeOf(mode);
    return queryMode ? CatalogQueries::byType(*queryMode, type) : QVector<RpmData>();
}

int ClientDemon::getState(const QString &name, const QString &version)
{
    Q_UNUSED(version);
    return CatalogQueries::installedVersion(name) ? -1 : 0;
}

QString ClientDemon::getSoftwareVersion(const QString &name)
{
    return CatalogQueries::lastInstalledVersion(name);
}

int ClientDemon::downloadSoftware(const QString &key)
{
    return m_operations->run(key, OperationDownload);
}

int ClientDemon::installSoftWare(const QString &key)
{
    return m_operations->run(key, OperationInstall);
}

int ClientDemon::quickinstallSoftWare(const QString &key)
{
    return m_operations->run(key, OperationQuickInstall);
}

int ClientDemon::updateSoftWare(const QString &key)
{
    return m_operations->run(key, OperationUpdate);
}

int ClientDemon::removeSoftWare(const QString &key)
{
    return m_operations->run(key, OperationRemove);
}

int ClientDemon::getProgressValue(const QString &key, const QString &reserve, int total)
{
    return m_operations->progressValue(key, reserve, total);
}

int ClientDemon::isExecSuccess(int status)
{
    return decodeExecStatus(status);
}

bool ClientDemon::createDirectory(const QString &path)
{
    return ::createDirectory(path);
}

bool ClientDemon::removeDirectory(const QString &path)
{
    return ::removeDirectory(path);
}
