#include "sync/reportoutbox.h"

#include "queues/taskpackage.h"
#include "records/clientconfig.h"
#include "records/operationword.h"
#include "storage/sqlconnection.h"
#include "sync/acceptedsequence.h"
#include "sync/reportframe.h"
#include "sync/synclog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSet>

#include <sqlite3.h>

#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// One writer at a time within the process; the file is the store's alone.
QMutex outboxLock;

// The id's place in a composed frame until the row's number is known.
const char *const IdMark = "@@report-id@@";

constexpr int FrameBytes = 65535;

// The columns of queries, read under one shared lock once a writer is done (the receiver or
// a refresh rewrites these tables): a busy file is not taken for an empty one, nor a table
// between two of its versions. nullopt when the file stayed busy.
std::optional<QVector<QStringList>> readTogether(const QString &path, const QStringList &queries)
{
    SqlConnection db;
    if (!db.open(path) || db.exec(QStringLiteral("PRAGMA busy_timeout=8000")) != SQLITE_OK ||
        db.exec(QStringLiteral("BEGIN")) != SQLITE_OK)
        return std::nullopt;
    if (db.exec(QStringLiteral("select count(*) from sqlite_master")) != SQLITE_OK) {
        db.exec(QStringLiteral("ROLLBACK"));
        return std::nullopt;
    }
    QVector<QStringList> columns;
    for (const QString &query : queries)
        columns << db.selectColumn(query, {});
    db.exec(QStringLiteral("COMMIT"));
    return columns;
}

bool openOutbox(SqlConnection *db, const QString &path)
{
    // It holds the tails of root-run commands' output: root's alone from its creation on,
    // and closed again where an earlier store left it readable.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool closed = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!closed || !db->open(path))
        return false;
    db->exec(QStringLiteral("PRAGMA busy_timeout=8000"));
    return db->exec(QStringLiteral(
               "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);"
               "CREATE TABLE IF NOT EXISTS outbox(n INTEGER PRIMARY KEY AUTOINCREMENT,"
               " id TEXT UNIQUE, kind TEXT, time INTEGER, frame TEXT);")) == SQLITE_OK;
}

QString instanceOf(SqlConnection *db)
{
    const QStringList known =
        db->selectColumn(QStringLiteral("select value from meta where key='instance'"), {});
    if (!known.isEmpty())
        return known.first();
    const QString made = QString::number(QRandomGenerator::system()->generate64(), 16)
                             .rightJustified(16, QLatin1Char('0'));
    db->execBound(QStringLiteral("insert into meta(key,value) values('instance',?)"), {made});
    return made;
}

} // namespace

ReportOutbox::ReportOutbox(const QString &path, int maxResults)
    : m_path(path), m_maxResults(maxResults)
{
}

bool ReportOutbox::recordResult(const QString &oper, const QString &rpm, int code,
                                const QString &echo)
{
    if (!ReportFrame::isPackageText(rpm)) {
        qCWarning(syncLog) << "no report for a task on" << rpm << ": not a package string";
        return false;
    }
    const bool deferral = oper == OperationWord::deferral();
    const std::optional<Operation> operation = OperationWord::parse(oper);
    if (!operation && !deferral) {
        qCWarning(syncLog) << "no report for a task of" << oper << ": not an operation";
        return false;
    }
    ReportFrame::Result result;
    result.id = QLatin1String(IdMark);
    result.time = QDateTime::currentSecsSinceEpoch();
    result.oper = deferral ? OperationWord::deferralKey() : OperationWord::key(*operation);
    result.rpm = rpm;
    result.code = deferral ? 0 : code;
    result.echo = echo;
    // A deferral unsent replaces the one before of the same package: a server that never
    // takes them (one before the word) fills no outbox, and one day's news is enough.
    return record(deferral ? QStringLiteral("deferral ") + rpm : QStringLiteral("result"),
                  ReportFrame::composeResult(ClientConfig::localip(), result), result.time);
}

bool ReportOutbox::recordInventory()
{
    ReportFrame::Inventory inventory;
    inventory.id = QLatin1String(IdMark);
    inventory.time = QDateTime::currentSecsSinceEpoch();
    inventory.sequence = catalogSequence();
    const std::optional<QStringList> packages = installedCatalogPackages();
    // A table being rewritten for longer than the wait is no news: the next inventory says.
    if (!packages) {
        qCWarning(syncLog) << "inventory not recorded: the package tables stayed busy";
        return false;
    }
    inventory.packages = *packages;
    // Room for the id that replaces the mark.
    return record(
        QStringLiteral("inventory"),
        ReportFrame::composeInventory(ClientConfig::localip(), inventory, FrameBytes - 64),
        inventory.time);
}

bool ReportOutbox::record(const QString &kind, const QString &frameWithoutId, qint64 time)
{
    QMutexLocker locker(&outboxLock);
    SqlConnection db;
    if (!openOutbox(&db, m_path)) {
        qCWarning(syncLog) << "report outbox" << m_path << "cannot be opened";
        return false;
    }
    db.exec(QStringLiteral("BEGIN IMMEDIATE"));
    const QString instance = instanceOf(&db);
    if (kind != QLatin1String("result"))
        db.execBound(QStringLiteral("delete from outbox where kind=?"), {kind});
    db.execBound(QStringLiteral("insert into outbox(kind,time) values(?,?)"),
                 {kind, QString::number(time)});
    const QString n = db.selectColumn(QStringLiteral("select last_insert_rowid()"), {}).value(0);
    const QString id = instance + QLatin1Char('-') + n;
    // The id comes before every other text in the frame, the echo's included.
    QString frame = frameWithoutId;
    const int mark = frame.indexOf(QLatin1String(IdMark));
    frame.replace(mark, int(qstrlen(IdMark)), id);
    db.execBound(QStringLiteral("update outbox set id=?, frame=? where n=?"), {id, frame, n});
    const int results =
        db.selectColumn(QStringLiteral("select count(*) from outbox where kind='result'"), {})
            .value(0)
            .toInt();
    if (results > m_maxResults) {
        const QString excess = QString::number(results - m_maxResults);
        db.execBound(QStringLiteral("delete from outbox where n in (select n from outbox where "
                                    "kind='result' order by n limit ?)"),
                     {excess});
        qWarning().noquote() << "report outbox full:" << excess
                             << "oldest result(s) dropped unsent";
    }
    if (db.exec(QStringLiteral("COMMIT")) != SQLITE_OK) {
        qCWarning(syncLog) << "report outbox: cannot keep the report:" << db.errorMessage();
        db.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}

QVector<ReportOutbox::Entry> ReportOutbox::pending(int limit) const
{
    QMutexLocker locker(&outboxLock);
    SqlConnection db;
    QVector<Entry> entries;
    if (!openOutbox(&db, m_path))
        return entries;
    db.exec(QStringLiteral("BEGIN"));
    const QString count = QString::number(limit);
    const QStringList ids = db.selectColumn(
        QStringLiteral("select id from outbox where id is not null order by n limit ?"), {count});
    const QStringList frames = db.selectColumn(
        QStringLiteral("select frame from outbox where id is not null order by n limit ?"),
        {count});
    db.exec(QStringLiteral("COMMIT"));
    for (int i = 0; i < ids.size() && i < frames.size(); ++i)
        entries.append({ids.at(i), frames.at(i)});
    return entries;
}

int ReportOutbox::acknowledge(const QStringList &ids)
{
    QMutexLocker locker(&outboxLock);
    SqlConnection db;
    if (!openOutbox(&db, m_path))
        return 0;
    db.exec(QStringLiteral("BEGIN IMMEDIATE"));
    const int before =
        db.selectColumn(QStringLiteral("select count(*) from outbox"), {}).value(0).toInt();
    for (const QString &id : ids)
        db.execBound(QStringLiteral("delete from outbox where id=?"), {id});
    const int after =
        db.selectColumn(QStringLiteral("select count(*) from outbox"), {}).value(0).toInt();
    db.exec(QStringLiteral("COMMIT"));
    return before - after;
}

quint64 ReportOutbox::catalogSequence()
{
    return AcceptedSequence::load(Paths::catalogDatabase(), Paths::frameSequenceFile()).value_or(0);
}

std::optional<QStringList> ReportOutbox::installedCatalogPackages()
{
    const auto catalog =
        readTogether(Paths::catalogDatabase(), {QStringLiteral("select s_rpm from softwares")});
    const auto local = readTogether(
        Paths::localDatabase(),
        {QStringLiteral("select name from software order by id"),
         QStringLiteral("select name||'-'||version||'-'||release_ver from software order by id")});
    if (!catalog || !local)
        return std::nullopt;
    QSet<QString> catalogNames;
    for (const QString &rpm : catalog->first())
        catalogNames.insert(TaskPackage(rpm).name);
    const QStringList &names = local->at(0);
    const QStringList &nvrs = local->at(1);
    QStringList packages;
    for (int i = 0; i < names.size() && i < nvrs.size(); ++i)
        if (catalogNames.contains(names.at(i)) && ReportFrame::isPackageText(nvrs.at(i)))
            packages << nvrs.at(i);
    packages.sort();
    packages.removeDuplicates();
    return packages;
}
