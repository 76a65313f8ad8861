#include "sync/heartthread.h"

#include "engine/shellfunctions.h"
#include "records/clientconfig.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "storage/database.h"
#include "storage/queryresult.h"
#include "storage/sqlconnection.h"
#include "sync/catalogframe.h"
#include "sync/catalogsql.h"
#include "sync/framegate.h"
#include "sync/httpfetch.h"
#include "sync/icondigest.h"
#include "sync/installedpackages.h"
#include "vqs.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

namespace
{

const char *const StopMessage = "process-run-end";
const char *const CloseLine = ">>>HeartThread::pigxmlData>>> sqlite3_close SERVER_DATABASE";

void reportFailure(const char *what, int rc, const SqlConnection &db)
{
    qDebug() << QStringLiteral("[ERROR][%1] rc = ").arg(QLatin1String(what)) << rc;
    std::fprintf(stderr, "[ERROR][%s] %s\n", what, db.errorMessage().toUtf8().constData());
    qDebug() << CloseLine;
}

QStringList selectColumn(const char *sql, const QString &parameter)
{
    return QueryResult(Paths::catalogDatabase(), QString::fromUtf8(sql), {parameter}).column(0);
}

} // namespace

HeartThread::HeartThread(QObject *parent) : QThread(parent)
{
    m_iconFetches.setFetchEnded([this] { emit iconFetched(); });
}

HeartThread::~HeartThread()
{
    m_iconFetches.setFetchEnded(nullptr);
}

void HeartThread::run()
{
    QByteArray buffer(VQS_MAX_MESSAGE + 1, '\0');
    FrameGate gate(Paths::trustedKeyDirectory(), Paths::frameSequenceFile());
    gate.isChecking(); // says at once when frames go unchecked
    vqs_message_recv_init();
    for (;;) {
        buffer.fill('\0');
        vqs_message_recv(buffer.data());
        const QByteArray text(buffer.constData());
        if (text == StopMessage) {
            if (m_stopExpected || !gate.isChecking())
                return;
            qWarning() << "stop word dropped: not sent by this store";
            emit frameDropped(QString::fromUtf8(text), QStringLiteral("stop word from outside"));
            continue;
        }
        const FrameGate::Verdict verdict = gate.admit(text);
        if (verdict != FrameGate::Verdict::Accepted && verdict != FrameGate::Verdict::Unchecked) {
            emit frameDropped(QString::fromUtf8(text),
                              QString::fromLatin1(FrameGate::reasonOf(verdict)));
            continue;
        }
        m_iconsChecked = verdict == FrameGate::Verdict::Accepted;
        pigxmlData(QString::fromUtf8(text));
    }
}

void HeartThread::pigxmlData(const QString &data)
{
    m_updateList.clear();
    CatalogFrame frame;
    QString error;
    if (!frame.parse(data, &error)) {
        qDebug() << error;
        return;
    }
    qDebug() << ">>>>> arch = " << frame.architecture();
    qDebug() << ">>>>> str = " << frame.actionText();

    const FrameAction action = frame.action();
    if (action == FrameAction::JoinResponse)
        return;
    const bool ours = frame.isForThisArchitecture();
    const bool wholeCatalog =
        (action == FrameAction::DataResponse || frame.isCatalogPart()) && ours;
    // Every frame ends with the same reload, so a catalog in parts needs this one only
    // before its first part.
    if (wholeCatalog && !(frame.isCatalogPart() && m_assembly.isGathering(frame))) {
        qDebug() << ">>>>> exec initLocalData()";
        initLocalData();
    }
    if (ours) {
        if (!storePackages(frame))
            return;
        qDebug() << "[before delete] str = " << frame.actionText();
        if (wholeCatalog && !reconcileCatalog(frame))
            return;
        if (action == FrameAction::AddPush)
            runShell(QStringLiteral("notify-send -t 5000 ") +
                     QStringLiteral("Corvane有新增软件! ") +
                     QStringLiteral("请前往Corvane刷新或重启以获取更新数据并查看"));
    }
    if (action == FrameAction::UpdatePush && ours)
        runShell(QStringLiteral("notify-send -t 5000 ") + QStringLiteral("Corvane有更新! ") +
                 QStringLiteral("请前往Corvane刷新或重启以获取更新数据并查看"));

    UpdatePushxmlData();
    emit recvServerData(data, m_updateList);
    emit updateEnd(0);
}

bool HeartThread::storePackages(const CatalogFrame &frame)
{
    qDebug() << ">>>HeartThread::pigxmlData>>> sqlite3_open SERVER_DATABASE 443";
    SqlConnection db;
    if (!db.open(Paths::catalogDatabase()))
        return false;
    db.exec(QStringLiteral("begin transaction;"));
    qDebug() << ">>>Set PRAGMA busy_timeout=1000";
    if (db.exec(QStringLiteral("PRAGMA busy_timeout=1000")) != 0) {
        std::fprintf(stderr, "[ERROR][Set PRAGMA busy_timeout] %s\n",
                     db.errorMessage().toUtf8().constData());
        return false;
    }

    // The frame's row and icon look-ups share one reading connection. Like a connection per
    // look-up it sees the catalog as it was before the frame, whose statements are not
    // committed yet.
    struct CloseAtEnd {
        SqlConnection &connection;
        ~CloseAtEnd() { connection.close(); }
    } closeLookUps{m_lookup};
    if (m_lookup.open(Paths::catalogDatabase()))
        m_lookup.exec(QStringLiteral("PRAGMA busy_timeout=8000"));

    const bool deleting = frame.action() == FrameAction::DeletePush;
    for (const CatalogPackage &package : frame.packages()) {
        m_iconList[package.icon] = package.time;
        checkIconDownload(package.icon, package.time, package.iconDigest);
        const int state = isExists(package.name, package.rpm);

        if (deleting) {
            const QString sql = CatalogSql::deletePackage(package.name);
            const int rc = db.exec(sql);
            qDebug() << "data_delete_push : " << sql;
            if (rc != 0) {
                reportFailure("delete s_name", rc, db);
                return false;
            }
        } else if (state == 0 || state == 1) {
            const QString sql = CatalogSql::updatePackage(package);
            qDebug() << "[INFO][update softwares] sql = " << sql;
            const int rc = db.exec(sql);
            if (rc != 0) {
                reportFailure("update softwares", rc, db);
                return false;
            }
            if (state == 1)
                m_updateList << package.rpm;
            qDebug() << "[INFO][update softwares] success";
        } else {
            const QString sql = CatalogSql::insertPackage(package);
            qDebug() << "[INFO][insert softwares] sql = " << sql;
            const int rc = db.exec(sql);
            if (rc != 0) {
                reportFailure("insert softwares", rc, db);
                return false;
            }
            qDebug() << "[INFO][insert softwares] success";
        }
    }
    // A commit that fails loses the frame as surely as a failed statement.
    const int rc = db.exec(QStringLiteral("commit transaction;"));
    if (rc != 0) {
        reportFailure("commit softwares", rc, db);
        return false;
    }
    qDebug() << CloseLine;
    return true;
}

bool HeartThread::reconcileCatalog(const CatalogFrame &frame)
{
    if (frame.isCatalogPart()) {
        if (!m_assembly.add(frame))
            return true;
        const bool reconciled = reconcile(m_assembly.names());
        m_assembly.clear();
        return reconciled;
    }
    // A whole catalog on its own supersedes the parts of one still being gathered.
    m_assembly.clear();
    QHash<QString, int> catalog;
    const QVector<CatalogPackage> &packages = frame.packages();
    for (int k = 0; k < packages.size(); ++k)
        if (!catalog.contains(packages.at(k).name))
            catalog.insert(packages.at(k).name, k + 1);
    return reconcile(catalog);
}

bool HeartThread::reconcile(const QHash<QString, int> &catalog)
{
    const QStringList stored = selectColumn("select s_name from softwares;", QString());
    qDebug() << "rows = " << stored.size();
    SqlConnection db;
    if (!db.open(Paths::catalogDatabase()))
        return false;
    db.exec(QStringLiteral("PRAGMA busy_timeout=1000"));
    db.exec(QStringLiteral("begin transaction;"));

    int remaining = stored.size();
    for (int i = 0; i < stored.size(); ++i) {
        const QString &name = stored.at(i);
        if (const int found = catalog.value(name)) {
            qDebug() << "num = " << found << "  [sql]sqlres = " << name
                     << "  [xml]rpmname = " << name;
            continue;
        }
        // An empty catalog is taken for a broken answer, not for "delete everything".
        if (catalog.isEmpty())
            continue;
        --remaining;
        const QString sql = CatalogSql::deletePackage(name);
        qDebug() << "[DELETE] " << sql;
        qDebug() << "count = " << i << "  rows = " << remaining;
        const int rc = db.exec(sql);
        if (rc != 0) {
            reportFailure("delete s_name", rc, db);
            return true;
        }
    }
    db.exec(QStringLiteral("commit transaction;"));
    return true;
}

void HeartThread::initLocalData()
{
    InstalledPackages::SnapshotStyle snapshot;
    snapshot.file = Paths::installedListFile();
    snapshot.retryWarning = QStringLiteral("[WARNING] get local pkgs info failed , try again ...");
    snapshot.logSize = true;
    if (!InstalledPackages::snapshot(snapshot))
        return;

    InstalledPackages::ReloadStyle reload;
    reload.resetSequence = false;
    reload.logStartWhile = false;
    reload.errorPrefix = QStringLiteral("[ERROR][insert local pkgs info]");
    reload.closeLine = QStringLiteral(">>>HeartThread::initLocalData>>> sqlite3_close DATABASE");
    if (!InstalledPackages::reload(snapshot.file, reload, nullptr))
        return;
    qDebug() << "init data end ____ HeartThread::initLocalData()";
}

void HeartThread::UpdatePushxmlData()
{
    InstalledPackages::switchToRoot();

    InstalledPackages::SnapshotStyle snapshot;
    snapshot.file = Paths::installedListFile();
    snapshot.retryWarning =
        QStringLiteral("[WARNING] failed to get local pkgs info , try again ...");
    if (!InstalledPackages::snapshot(snapshot))
        return;

    qDebug() << "[INFO] sqlite DELETE software";
    InstalledPackages::ReloadStyle reload;
    reload.errorPrefix = QStringLiteral("[ERROR][insert local pkgs info]");
    reload.closeLine =
        QStringLiteral(">>>HeartThread::UpdatePushxmlData>>> sqlite3_close DATABASE");
    QVector<RpmInfo> installed;
    if (!InstalledPackages::reload(snapshot.file, reload, &installed))
        return;
    if (!InstalledPackages::recomputeSigns(
            installed,
            QStringLiteral(">>>HeartThread::initLocalData>>> sqlite3_close SERVER_DATABASE")))
        return;

    qDebug() << "[INFO] init data end ____ HeartThread::UpdatePushxmlData";
    emit recvServerData(QStringLiteral("info"), QStringList());
    emit updateEnd(0);
}

int HeartThread::isExists(const QString &name, const QString &rpm)
{
    const QStringList stored = lookUp("select s_rpm from softwares where s_name=?;", name);
    if (stored.isEmpty())
        return 2;
    return stored.first() == rpm ? 0 : 1;
}

bool HeartThread::isFetchableIcon(const QString &icon)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[a-zA-Z0-9_.-]+")));
    // The pattern lets "." and ".." through; they name directories, not icons.
    return pattern.match(icon).hasMatch() && Quoting::isSafePathComponent(icon);
}

QString HeartThread::iconBase()
{
    return ClientConfig::iconurl() + QLatin1Char('/');
}

void HeartThread::fetchIcon(const QString &command, const QString &target)
{
    m_iconFetches.fetch(command, target);
}

QStringList HeartThread::lookUp(const char *sql, const QString &value)
{
    if (m_lookup.isOpen())
        return m_lookup.selectColumn(QLatin1String(sql), {value});
    return selectColumn(sql, value);
}

bool HeartThread::waitForIcons(int timeoutMs)
{
    return m_iconFetches.waitForIdle(timeoutMs);
}

void HeartThread::checkIconDownload(const QString &icon, const QString &time)
{
    checkIconDownload(icon, time, QString());
}

void HeartThread::checkIconDownload(const QString &icon, const QString &time,
                                    const QString &digest)
{
    if (m_iconsChecked) {
        checkSignedIcon(icon, time, digest);
        return;
    }
    const QString base = iconBase();
    if (!isFetchableIcon(icon))
        return;
    const QString target = Paths::iconDirectory() + icon;
    const QString command = HttpFetch::command(target, base + icon);
    if (!QFileInfo::exists(target)) {
        qDebug() << "[01] download cmd : " << command;
        fetchIcon(command, target);
        return;
    }
    if (lookUp("select time from softwares where s_icon=?;", icon).contains(time))
        return;
    qDebug() << "[02] download cmd : " << command;
    fetchIcon(command, target);
}

void HeartThread::checkSignedIcon(const QString &icon, const QString &time, const QString &digest)
{
    if (!isFetchableIcon(icon))
        return;
    const QString target = Paths::iconDirectory() + icon;
    if (digest.isEmpty()) {
        // Nothing signed to check a picture against: none is kept.
        QFile::remove(target);
        qWarning().noquote() << QStringLiteral("icon %1 not kept: the catalog signed no digest for it")
                                    .arg(target);
        return;
    }
    const bool current = IconDigest::ofFile(target) == digest;
    if (current && lookUp("select time from softwares where s_icon=?;", icon).contains(time))
        return;
    // Written beside the icon and renamed over it once checked: what the icon cells read is
    // never an unchecked file.
    const QString download = target + QStringLiteral("~part"); // no icon name holds "~"
    const QString command = HttpFetch::command(download, iconBase() + icon);
    qDebug() << (current ? "[02] download cmd : " : "[01] download cmd : ") << command;
    m_iconFetches.fetchChecked(command, download, target, digest);
}

void HeartThread::downLoadIcons()
{
    const QString base = iconBase();
    qDebug() << "iconList=" << m_iconList.size();
    for (auto it = m_iconList.cbegin(); it != m_iconList.cend(); ++it) {
        if (!isFetchableIcon(it.key()))
            continue;
        const QString target = Paths::iconDirectory() + it.key();
        const QString command = HttpFetch::command(target, base + it.key());
        qDebug() << "[03] download cmd=" << command;
        fetchIcon(command, target);
    }
}

bool HeartThread::removeDirectory(const QString &path)
{
    return ::removeDirectory(path);
}
