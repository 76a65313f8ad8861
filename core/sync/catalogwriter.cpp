#include "sync/catalogwriter.h"

#include "records/paths.h"
#include "storage/queryresult.h"
#include "sync/acceptedsequence.h"
#include "sync/catalogframe.h"
#include "sync/catalogsql.h"
#include "sync/packageadvisories.h"

#include <QDebug>

#include <cstdio>

namespace
{

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

// What a frame does to the rows of the packages it carries.
enum class RowEffect { Store, Delete, Nothing };

RowEffect rowEffectOf(FrameAction action)
{
    switch (action) {
    case FrameAction::DataResponse:
    case FrameAction::CatalogPart:
    case FrameAction::AddPush:
    case FrameAction::UpdatePush:
        return RowEffect::Store;
    case FrameAction::DeletePush:
        return RowEffect::Delete;
    case FrameAction::JoinRequest:
    case FrameAction::JoinResponse:
    case FrameAction::DataRequest:
    case FrameAction::Heartbeat:
    case FrameAction::Other:
        // Not a store's to apply: its packages are kept out of the catalog.
        return RowEffect::Nothing;
    }
    return RowEffect::Nothing;
}

} // namespace

std::optional<QStringList> CatalogWriter::store(const CatalogFrame &frame, const PackageSeen &seen,
                                                quint64 sequence)
{
    qDebug() << ">>>HeartThread::pigxmlData>>> sqlite3_open SERVER_DATABASE 443";
    SqlConnection db;
    if (!db.open(Paths::catalogDatabase()))
        return std::nullopt;
    db.exec(QStringLiteral("begin transaction;"));
    qDebug() << ">>>Set PRAGMA busy_timeout=1000";
    if (db.exec(QStringLiteral("PRAGMA busy_timeout=1000")) != 0) {
        std::fprintf(stderr, "[ERROR][Set PRAGMA busy_timeout] %s\n",
                     db.errorMessage().toUtf8().constData());
        return std::nullopt;
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

    QStringList changed;
    const RowEffect effect = rowEffectOf(frame.action());
    const bool deleting = effect == RowEffect::Delete;
    if (effect == RowEffect::Nothing && !frame.packages().isEmpty())
        qWarning() << "packages of a frame not stored:" << frame.actionText();
    const QVector<CatalogPackage> packages =
        effect == RowEffect::Nothing ? QVector<CatalogPackage>() : frame.packages();
    for (const CatalogPackage &package : packages) {
        seen(package);
        const int state = rowState(package.name, package.rpm);

        if (deleting) {
            const CatalogSql::Bound statement = CatalogSql::deletePackageBound(package.name);
            const int rc = db.execBound(statement.sql, statement.values);
            qDebug() << "data_delete_push : " << statement.shown;
            if (rc != 0) {
                reportFailure("delete s_name", rc, db);
                return std::nullopt;
            }
        } else if (state == 0 || state == 1) {
            const CatalogSql::Bound statement = CatalogSql::updatePackageBound(package);
            qDebug() << "[INFO][update softwares] sql = " << statement.shown;
            const int rc = db.execBound(statement.sql, statement.values);
            if (rc != 0) {
                reportFailure("update softwares", rc, db);
                return std::nullopt;
            }
            if (state == 1)
                changed << package.rpm;
            qDebug() << "[INFO][update softwares] success";
        } else {
            const CatalogSql::Bound statement = CatalogSql::insertPackageBound(package);
            qDebug() << "[INFO][insert softwares] sql = " << statement.shown;
            const int rc = db.execBound(statement.sql, statement.values);
            if (rc != 0) {
                reportFailure("insert softwares", rc, db);
                return std::nullopt;
            }
            qDebug() << "[INFO][insert softwares] success";
        }
        const int kept = storeAdvisories(db, package, deleting);
        if (kept != 0) {
            reportFailure("advisories", kept, db);
            return std::nullopt;
        }
    }
    if (sequence != 0) {
        const int recorded = AcceptedSequence::record(db, sequence);
        if (recorded != 0) {
            reportFailure("frame sequence", recorded, db);
            return std::nullopt;
        }
    }
    // A commit that fails loses the frame as surely as a failed statement; the sequence
    // stays where it was, so the frame sent again is taken.
    const int rc = db.exec(QStringLiteral("commit transaction;"));
    if (rc != 0) {
        reportFailure("commit softwares", rc, db);
        return std::nullopt;
    }
    qDebug() << CloseLine;
    return changed;
}

int CatalogWriter::storeAdvisories(SqlConnection &db, const CatalogPackage &package, bool deleting)
{
    // Only what checks out is kept: the text is the repository's.
    const QString text =
        deleting ? QString()
                 : PackageAdvisories::compose(PackageAdvisories::parse(package.advisories));
    if (text.isEmpty())
        return db.execBound(QStringLiteral("delete from advisories where s_name=?;"),
                            {package.name});
    return db.execBound(
        QStringLiteral("insert or replace into advisories (s_name, text) values (?, ?);"),
        {package.name, text});
}

bool CatalogWriter::storeSequence(quint64 sequence)
{
    SqlConnection db;
    if (!db.open(Paths::catalogDatabase()))
        return false;
    db.exec(QStringLiteral("PRAGMA busy_timeout=1000"));
    return AcceptedSequence::record(db, sequence) == 0;
}

bool CatalogWriter::storeFreshness()
{
    SqlConnection db;
    if (!db.open(Paths::catalogDatabase()))
        return false;
    db.exec(QStringLiteral("PRAGMA busy_timeout=1000"));
    return AcceptedSequence::recordFresh(db) == 0;
}

bool CatalogWriter::reconcile(const CatalogFrame &frame)
{
    if (frame.isCatalogPart()) {
        if (!m_assembly.add(frame))
            return true;
        const bool reconciled = deleteMissing(m_assembly.names());
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
    return deleteMissing(catalog);
}

bool CatalogWriter::deleteMissing(const QHash<QString, int> &catalog)
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
        const CatalogSql::Bound statement = CatalogSql::deletePackageBound(name);
        qDebug() << "[DELETE] " << statement.shown;
        qDebug() << "count = " << i << "  rows = " << remaining;
        const int rc = db.execBound(statement.sql, statement.values);
        if (rc != 0) {
            reportFailure("delete s_name", rc, db);
            return true;
        }
    }
    db.exec(QStringLiteral(
        "delete from advisories where s_name not in (select s_name from softwares);"));
    db.exec(QStringLiteral("commit transaction;"));
    return true;
}

int CatalogWriter::rowState(const QString &name, const QString &rpm)
{
    const QStringList stored = lookUp("select s_rpm from softwares where s_name=?;", name);
    if (stored.isEmpty())
        return 2;
    return stored.first() == rpm ? 0 : 1;
}

QStringList CatalogWriter::lookUp(const char *sql, const QString &value)
{
    if (m_lookup.isOpen())
        return m_lookup.selectColumn(QLatin1String(sql), {value});
    return selectColumn(sql, value);
}
