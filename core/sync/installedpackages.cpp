#include "sync/installedpackages.h"

#include "engine/privileges.h"
#include "engine/scratchfiles.h"
#include "engine/shellfunctions.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "records/version.h"
#include "storage/database.h"
#include "storage/queryresult.h"
#include "storage/sqlconnection.h"
#include "sync/catalogsql.h"

#include <QDebug>
#include <QFile>
#include <QHash>
#include <QStringList>

#include <cstdio>

namespace InstalledPackages
{

// A parallel writer (the other catalog-load thread, a queue worker) is waited for briefly
// instead of failing the whole reload at once.
static const QString BusyTimeout = QStringLiteral("PRAGMA busy_timeout=1000");

void switchToRoot()
{
    const Privileges::Ids ids = Privileges::switchToRoot();
    qDebug() << "gid:::" << ids.gid << "uid::" << ids.uid;
}

bool snapshot(const SnapshotStyle &style)
{
    const QString command = QStringLiteral("rpm -qa > ") + Quoting::shell(style.file);
    for (;;) {
        // What another user left at the name is never taken for the listing.
        const bool fresh = ScratchFiles::createFresh(style.file);
        if (fresh)
            runShell(command);
        QFile listing(style.file);
        if (!fresh || !listing.open(QIODevice::ReadOnly | QIODevice::Text)) {
            qDebug() << "open file info.txt failed";
            return false;
        }
        if (style.logSize)
            qDebug() << "info.txt size is " << listing.size();
        if (listing.size() > 0 || !style.retry)
            return true;
        // An empty listing means a damaged RPM database, never an empty system.
        repairRpmDatabase();
        qDebug() << style.retryWarning;
    }
}

bool parseSnapshotLine(const QString &line, RpmInfo *info)
{
    const int dot = line.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QStringList fields = line.left(dot).split(QLatin1Char('-'));
    const int n = fields.size();
    if (n < 2)
        return false;
    info->m_release = fields.at(n - 1);
    info->m_version = fields.at(n - 2);
    info->m_name = fields.mid(0, n - 2).join(QLatin1Char('-'));
    return true;
}

bool reload(const QString &snapshotFile, const ReloadStyle &style, QVector<RpmInfo> *installed)
{
    QFile listing(snapshotFile);
    if (!listing.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "open file info.txt failed";
        return false;
    }
    SqlConnection db;
    if (!db.open(Paths::localDatabase()))
        return false;
    db.exec(BusyTimeout);

    const QString end = style.terminated ? QStringLiteral(";") : QString();
    // Reports a failed statement and closes without a commit, which leaves the table as it was.
    auto fail = [&](const QString &sql, int rc) {
        if (!style.reportRcFirst)
            qDebug() << style.errorPrefix + QStringLiteral(" sql = ") << sql;
        qDebug() << style.errorPrefix + QStringLiteral(" rc = ") << rc;
        std::fprintf(stderr, "%s %s\n", qPrintable(style.errorPrefix),
                     db.errorMessage().toUtf8().constData());
        if (style.reportRcFirst)
            qDebug() << style.errorPrefix + QStringLiteral(" sql = ") << sql;
        if (!style.closeLine.isEmpty())
            qDebug() << style.closeLine;
        db.close();
        return false;
    };
    auto run = [&](const QString &sql) {
        const int rc = db.exec(sql);
        return rc == 0 || fail(sql, rc);
    };

    if (!run(QStringLiteral("begin transaction") + end))
        return false;
    if (style.resetSequence &&
        !run(QStringLiteral("DELETE FROM sqlite_sequence WHERE name = 'software'") + end))
        return false;
    if (!run(QStringLiteral("delete from software") + end))
        return false;
    if (style.logStartWhile)
        qDebug() << "start while";

    while (!listing.atEnd()) {
        const QString line = QString::fromUtf8(listing.readLine());
        RpmInfo info;
        if (!parseSnapshotLine(line, &info))
            continue;
        if (installed)
            installed->append(info);
        // The statement of CatalogSql::insertInstalled, prepared once with the values bound;
        // its text is built only to report a failure.
        const int rc = db.execBound(
            QStringLiteral("insert into software(name,version,release_ver) values(?,?,?)"),
            {info.m_name, info.m_version, info.m_release});
        if (rc != 0)
            return fail(CatalogSql::insertInstalled(info, style.terminated), rc);
    }
    return run(QStringLiteral("commit transaction") + end);
}

namespace
{

// The first installed package of each name, as the listing has them.
QHash<QString, const RpmInfo *> firstOfName(const QVector<RpmInfo> &installed)
{
    QHash<QString, const RpmInfo *> first;
    first.reserve(installed.size());
    for (const RpmInfo &info : installed)
        if (!first.contains(info.m_name))
            first.insert(info.m_name, &info);
    return first;
}

int signAgainst(const QString &rpm, const QHash<QString, const RpmInfo *> &firstOfName)
{
    const QStringList fields = rpm.split(QLatin1Char('-'));
    const int n = fields.size();
    if (n < 2)
        return -1;
    const RpmInfo *info = firstOfName.value(fields.mid(0, n - 2).join(QLatin1Char('-')));
    if (!info)
        return 0;
    const int order = compareversion(info->m_version, fields.at(n - 2));
    if (order != 0)
        return order > 0 ? 1 : 2;
    return compareversion(info->m_release, fields.at(n - 1)) > 0 ? 1 : 2;
}

} // namespace

int signFor(const QString &rpm, const QVector<RpmInfo> &installed)
{
    return signAgainst(rpm, firstOfName(installed));
}

bool recomputeSigns(const QVector<RpmInfo> &installed, const QString &closeLine)
{
    const QStringList packages =
        QueryResult(Paths::catalogDatabase(), QStringLiteral("select s_rpm from softwares;"))
            .column(0);

    SqlConnection db;
    if (!db.open(Paths::catalogDatabase()))
        return false;
    db.exec(BusyTimeout);
    db.exec(QStringLiteral("begin transaction;"));
    // Found by name in a hash rather than by a walk per row.
    const QHash<QString, const RpmInfo *> installedByName = firstOfName(installed);
    for (const QString &rpm : packages) {
        const int sign = signAgainst(rpm, installedByName);
        // A row that names no package (no "-", an empty text) keeps the state it has.
        if (sign < 0)
            continue;
        // The statement of CatalogSql::updateSign, prepared once with the values bound.
        const int rc = db.execBound(QStringLiteral("update softwares set sign=? where s_rpm=?;"),
                                    {QString::number(sign), rpm});
        if (rc != 0) {
            qDebug() << "[ERROR][update sign] sql = " << CatalogSql::updateSign(sign, rpm);
            qDebug() << "[ERROR][update sign] rc = " << rc;
            std::fprintf(stderr, "[ERROR][update sign] %s\n",
                         db.errorMessage().toUtf8().constData());
            if (!closeLine.isEmpty())
                qDebug() << closeLine;
            return false;
        }
    }
    return db.exec(QStringLiteral("commit transaction;")) == 0;
}

} // namespace InstalledPackages
