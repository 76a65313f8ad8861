#include "facade/clientdemon.h"

#include "engine/clientthread.h"
#include "engine/shellfunctions.h"
#include "engine/updatethread.h"
#include "records/category.h"
#include "records/clientconfig.h"
#include "records/codes.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "storage/queryresult.h"
#include "sync/catalogrequest.h"
#include "sync/getvqsdatathread.h"
#include "sync/heartthread.h"
#include "sync/initdatathread.h"
#include "vqs.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <cstdio>

namespace
{

// The receiver normally ends within moments of the shutdown message; when the transport
// cannot deliver it, the thread is left to end with the process rather than hang the caller.
constexpr unsigned long HeartShutdownWaitMs = 10000;

const char *const SelectColumns =
    "select s_name,s_icon,s_exec,s_rpm,s_version,s_size,s_description,s_star,type,sign,s_rpmdeps "
    "from softwares";

// The columns in the order of SelectColumns; a shorter select fills the leading fields.
RpmData recordFrom(const QueryResult &result, int row)
{
    QString RpmData::*const fields[] = {
        &RpmData::m_name,    &RpmData::m_icon, &RpmData::m_exec,        &RpmData::m_rpm,
        &RpmData::m_version, &RpmData::m_size, &RpmData::m_description, &RpmData::m_star,
        &RpmData::m_type,    nullptr,          &RpmData::m_rpmdeps};
    RpmData record;
    const int count = qMin(result.columns(), int(sizeof(fields) / sizeof(fields[0])));
    for (int column = 0; column < count; ++column) {
        if (fields[column])
            record.*fields[column] = result.text(row, column);
        else
            record.m_state = result.text(row, column).toInt();
    }
    return record;
}

// "version-release" of the installed packages of these names, read at once for a list of
// records instead of once per record; a name's first row wins, as in the one-name query.
QHash<QString, QString> installedVersions(const QSet<QString> &names)
{
    QHash<QString, QString> versions;
    if (names.isEmpty())
        return versions;
    QStringList literals;
    for (const QString &name : names)
        literals << QLatin1Char('\'') + Quoting::sqlLiteral(name) + QLatin1Char('\'');
    const QueryResult result(
        Paths::localDatabase(),
        QStringLiteral("select name,version,release_ver from software where name "
                       "in (%1) order by id")
            .arg(literals.join(QLatin1Char(','))));
    for (int row = 0; row < result.rows(); ++row) {
        const QString name = result.text(row, 0);
        if (!versions.contains(name))
            versions.insert(name, result.text(row, 1) + QLatin1Char('-') + result.text(row, 2));
    }
    return versions;
}

QSet<QString> downloadedNames()
{
    const QueryResult result(Paths::localDatabase(),
                             QStringLiteral("select name from loadmanage where state='下载成功'"));
    QSet<QString> names;
    for (int row = 0; row < result.rows(); ++row)
        names.insert(result.text(row, 0));
    return names;
}

const char *const InstalledVersionSql = "select version,release_ver from software where name=?";

} // namespace

ClientDemon::ClientDemon()
    : m_updateFlag(0), m_heartThread(nullptr), m_initThread(nullptr), m_downloadFlag(-1)
{
    const int refresh = ClientConfig::refresh().toInt();
    const QString pkgpath = ClientConfig::pkgpath();
    createDirectory(pkgpath + QLatin1Char('/'));

    // Connected before they start, so that nothing they emit early is lost.
    m_initThread = new InitDataThread;
    connect(m_initThread, &InitDataThread::recvServerData, this, &ClientDemon::recvServerDataSlot);
    m_initThread->start();
    qDebug() << "************************22222";

    m_heartThread = new HeartThread;
    connect(m_heartThread, &HeartThread::recvServerData, this, &ClientDemon::recvServerDataSlot);
    connect(m_heartThread, &HeartThread::iconFetched, this, &ClientDemon::iconsFetched);
    m_heartThread->start();

    QTimer::singleShot(1000, this, &ClientDemon::sendMessageSlot);

    std::printf("[QString toInt] configfile refresh time = %d\n", refresh);
    std::fflush(stdout);
    if (refresh > 0) {
        // Runs for the life of the process; nothing keeps it.
        auto *poller = new GetVQSDataThread;
        poller->start();
    }
}

ClientDemon::~ClientDemon()
{
    if (m_initThread->isRunning()) {
        m_initThread->wait();
        m_initThread->quit();
    }
    delete m_initThread;
    m_initThread = nullptr;

    const QByteArray local = ClientConfig::localip().toUtf8();
    m_heartThread->expectStop();
    vqs_message_send(local.constData(), "process-run-end");

    if (m_heartThread->isRunning()) {
        if (!m_heartThread->wait(HeartShutdownWaitMs)) {
            qWarning() << "frame receiver did not end; left to the process";
            return;
        }
        m_heartThread->quit();
    }
    delete m_heartThread;
    m_heartThread = nullptr;
}

void ClientDemon::updateData()
{
    auto *thread = new UpdateThread;
    connect(thread, &UpdateThread::updateEnd, this, &ClientDemon::updateEnd);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
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
    CatalogRequest::send();
}

void ClientDemon::getDataSlot(int flag)
{
    m_downloadFlag = flag;
}

QVector<RpmData> ClientDemon::selectSoftware(int mode, const QString &category,
                                             const QString &keyword)
{
    QStringList conditions;
    const int code = Category::code(category);
    if (code > 0)
        conditions << QStringLiteral("type='%1'").arg(code);
    if (!keyword.isEmpty()) {
        const QString pattern =
            QStringLiteral("'%") + Quoting::sqlLiteral(keyword) + QStringLiteral("%'");
        // Parenthesised so that a search stays within its category.
        conditions << QStringLiteral("(s_name like ") + pattern +
                          QStringLiteral(" or s_description like ") + pattern + QLatin1Char(')');
    }
    // The lists of upgradable and installed rows need only the rows marked so; the rest would
    // be read and dropped.
    if (mode == 1)
        conditions << QStringLiteral("sign='1'");
    else if (mode == 2)
        conditions << QStringLiteral("sign in ('1','2')");
    QString sql = QString::fromUtf8(SelectColumns);
    if (!conditions.isEmpty())
        sql += QStringLiteral(" where ") + conditions.join(QStringLiteral(" and "));
    return selectAllSoftware(mode, sql);
}

QVector<RpmData> ClientDemon::selectAllSoftware(int mode, const QString &sql)
{
    const QueryResult result(Paths::catalogDatabase(), sql);
    m_resultList.clear();
    const QSet<QString> downloaded = downloadedNames();
    QVector<RpmData> records;
    records.reserve(result.rows());
    QSet<QString> upgradable;
    for (int row = 0; row < result.rows(); ++row) {
        records.append(recordFrom(result, row));
        RpmData &record = records.last();
        if (downloaded.contains(record.m_icon))
            record.m_state = StateDownloaded;
        if (record.m_state == StateUpgradable)
            upgradable.insert(record.m_icon);
    }
    const QHash<QString, QString> installed = installedVersions(upgradable);
    for (RpmData &record : records) {
        m_localVersion = record.m_version;
        if (record.m_state == StateUpgradable)
            noteInstalledVersion(installed, record.m_icon);

        bool keep = false;
        switch (mode) {
        case 0:
            keep = true;
            break;
        case 1:
            keep = record.m_state == StateUpgradable;
            break;
        case 2:
            keep = record.m_state == StateUpgradable || record.m_state == StateInstalled;
            if (keep)
                record.m_version = m_localVersion;
            break;
        default:
            break;
        }
        if (keep)
            m_resultList.append(record);
    }
    return m_resultList;
}

int ClientDemon::noteInstalledVersion(const QHash<QString, QString> &installed, const QString &name)
{
    const auto found = installed.constFind(name);
    if (found == installed.cend())
        return 0;
    m_localVersion = *found;
    qDebug() << "local_version=" << m_localVersion;
    return -1;
}

RpmData ClientDemon::selectNameSoftware(int mode, const QString &name)
{
    const QString sql = QString::fromUtf8(SelectColumns) + QStringLiteral(" where s_name='") +
                        Quoting::sqlLiteral(name) + QStringLiteral("';");
    const QueryResult result(Paths::catalogDatabase(), sql);
    RpmData record;
    for (int row = 0; row < result.rows(); ++row)
        record = nameRecord(recordFrom(result, row), mode,
                            [this](const QString &icon) { return getState(icon, QString()); });
    return record;
}

QHash<QString, RpmData> ClientDemon::selectNamesSoftware(int mode, const QSet<QString> &names)
{
    const QueryResult result(Paths::catalogDatabase(), QString::fromUtf8(SelectColumns));
    QVector<RpmData> rows;
    QSet<QString> upgradable;
    for (int row = 0; row < result.rows(); ++row) {
        RpmData record = recordFrom(result, row);
        if (!names.contains(record.m_name))
            continue;
        if (record.m_state == StateUpgradable)
            upgradable.insert(record.m_icon);
        rows.append(record);
    }
    const QHash<QString, QString> installed = installedVersions(upgradable);
    QHash<QString, RpmData> records;
    // A later row of a name takes the place of an earlier one, as in the one-name query.
    for (const RpmData &record : qAsConst(rows))
        records.insert(record.m_name, nameRecord(record, mode, [&](const QString &icon) {
                           return noteInstalledVersion(installed, icon);
                       }));
    return records;
}

RpmData ClientDemon::nameRecord(RpmData record, int mode,
                                const std::function<int(const QString &icon)> &stateOf)
{
    // This row's own version, not one left over from an earlier query.
    m_localVersion = record.m_version;
    if (record.m_state == StateUpgradable) {
        m_localVersion.clear();
        record.m_state = stateOf(record.m_icon);
    }
    if (mode == 2 && (record.m_state == StateUpgradable || record.m_state == StateInstalled))
        record.m_version = m_localVersion;
    return record;
}

QVector<RpmData> ClientDemon::selectTypeSoftware(int mode, const QString &type)
{
    m_resultList.clear();
    const QueryResult result(
        Paths::catalogDatabase(),
        QStringLiteral("select s_name,s_icon,s_exec,s_rpm,s_version,s_size,"
                       "s_description,s_star,type from softwares where type=?;"),
        {type});
    QSet<QString> icons;
    for (int row = 0; row < result.rows(); ++row)
        icons.insert(result.text(row, 1));
    // Every row's installed version in one query, not one database open per row.
    const QHash<QString, QString> installed = installedVersions(icons);
    for (int row = 0; row < result.rows(); ++row) {
        RpmData record = recordFrom(result, row);
        m_localVersion.clear();
        record.m_state = noteInstalledVersion(installed, record.m_icon);
        if (mode == 0 || (mode == 1 && record.m_state == StateNotInstalled))
            m_resultList.append(record);
    }
    return m_resultList;
}

int ClientDemon::getState(const QString &name, const QString &version)
{
    Q_UNUSED(version);
    const QueryResult result(Paths::localDatabase(), QString::fromUtf8(InstalledVersionSql),
                             {name});
    if (result.rows() == 0)
        return 0;
    m_localVersion = result.text(0, 0) + QLatin1Char('-') + result.text(0, 1);
    qDebug() << "local_version=" << m_localVersion;
    return -1;
}

QString ClientDemon::getSoftwareVersion(const QString &name)
{
    const QueryResult result(Paths::localDatabase(), QString::fromUtf8(InstalledVersionSql),
                             {name});
    m_resultList.clear();
    QString version;
    for (int row = 0; row < result.rows(); ++row)
        version = result.text(row, 0) + QLatin1Char('-') + result.text(row, 1);
    return version;
}

int ClientDemon::runOperation(const QString &key, int type, bool reportsDownload)
{
    ClientThread thread(key, type);
    if (reportsDownload)
        connect(&thread, &ClientThread::sendDownFlag, this, &ClientDemon::getDataSlot);
    thread.start();
    // Blocks without spinning; the result is published before the thread ends.
    thread.wait();
    return thread.setEndValue();
}

int ClientDemon::downloadSoftware(const QString &key)
{
    return runOperation(key, OperationDownload, true);
}

int ClientDemon::installSoftWare(const QString &key)
{
    return runOperation(key, OperationInstall, false);
}

int ClientDemon::quickinstallSoftWare(const QString &key)
{
    return runOperation(key, OperationQuickInstall, true);
}

int ClientDemon::updateSoftWare(const QString &key)
{
    return runOperation(key, OperationUpdate, false);
}

int ClientDemon::removeSoftWare(const QString &key)
{
    return runOperation(key, OperationRemove, false);
}

int ClientDemon::getProgressValue(const QString &key, const QString &reserve, int total)
{
    const QString directory = ClientConfig::pkgpath() + QLatin1Char('/') + key;
    const int reserveValue = reserve.toInt();
    qDebug() << "****** path=" << directory << " download_flag=" << m_downloadFlag;
    if (m_downloadFlag == 0) {
        m_downloadFlag = -1;
        return 100;
    }
    const QFileInfoList files =
        QDir(directory).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    qDebug() << "file list size =" << files.size();
    double sum = 0;
    for (const QFileInfo &file : files)
        sum += file.size();
    qDebug() << "value=" << sum << "    total_size=" << total << "   rand_num=" << reserveValue;
    // Nothing to measure against: no progress rather than a division by zero.
    if (total <= 0)
        return 0;
    return static_cast<int>((sum * 100 / total) * ((100 - reserveValue) / 100.0));
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
