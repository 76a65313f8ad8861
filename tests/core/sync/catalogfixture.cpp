#include "catalogfixture.h"

#include "records/paths.h"
#include "records/quoting.h"
#include "sync/catalogframe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#ifndef CORVANE_SYNC_TEST_DIR
#error "CORVANE_SYNC_TEST_DIR must name tests/core/sync"
#endif

namespace CatalogFixture
{

QVector<Row> query(const QString &database, const QString &sql)
{
    QVector<Row> rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(database.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    // A store process may be committing: its lock is waited for, not read as no rows.
    sqlite3_busy_timeout(db, 30000);
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            Row row;
            for (int k = 0; k < sqlite3_column_count(stmt); ++k) {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, k));
                row.insert(QString::fromUtf8(sqlite3_column_name(stmt, k)),
                           text ? QString::fromUtf8(text) : QString());
            }
            rows << row;
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

bool exec(const QString &database, const QString &sql)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(database.toUtf8().constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

QStringList names()
{
    QStringList result;
    for (const Row &row :
         query(Paths::catalogDatabase(), QStringLiteral("select s_name from softwares")))
        result << row.value(QStringLiteral("s_name"));
    result.sort();
    return result;
}

Row row(const QString &name)
{
    const QVector<Row> rows =
        query(Paths::catalogDatabase(), QStringLiteral("select * from softwares where s_name='") +
                                            Quoting::sqlLiteral(name) + QLatin1Char('\''));
    return rows.isEmpty() ? Row() : rows.first();
}

QStringList installed()
{
    QStringList result;
    for (const Row &row : query(Paths::localDatabase(),
                                QStringLiteral("select name, version, release_ver from software")))
        result << row.value(QStringLiteral("name")) + QLatin1Char(' ') +
                      row.value(QStringLiteral("version")) + QLatin1Char(' ') +
                      row.value(QStringLiteral("release_ver"));
    result.sort();
    return result;
}

CatalogPackage package(const QString &name, const QString &rpm, const QString &icon,
                       const QString &time)
{
    CatalogPackage p;
    p.name = name;
    p.rpm = rpm;
    p.icon = icon;
    p.time = time;
    p.klass = QStringLiteral("5");
    p.version = rpm.section(QLatin1Char('-'), -2, -2);
    p.desc = QStringLiteral("关于 ") + name;
    return p;
}

QString frame(const QString &action, const QString &architecture,
              const QVector<CatalogPackage> &packages, const QString &element)
{
    QString text =
        QStringLiteral("<frame action='%1'><datas architecture='%2'>").arg(action, architecture);
    for (const CatalogPackage &p : packages)
        text += CatalogFrame::packageElement(element, p);
    return text + QStringLiteral("</datas></frame>");
}

bool writeCatalog(const QString &path, const QVector<CatalogPackage> &packages)
{
    QString xml = QStringLiteral("<catalog>\n");
    for (const CatalogPackage &p : packages)
        xml += CatalogFrame::packageElement(QStringLiteral("app"), p) + QLatin1Char('\n');
    return writeFile(path, (xml + QStringLiteral("</catalog>\n")).toUtf8());
}

QString toolFolder(const QString &name)
{
    return QStringLiteral(CORVANE_SYNC_TEST_DIR "/") + name;
}

} // namespace CatalogFixture
