#include "benchcatalog.h"

#include "records/paths.h"

#include <sqlite3.h>

#include <QFile>
#include <QImage>

namespace BenchCatalog
{

QString shortName(int i)
{
    return QString::asprintf("cv-app%05d", i);
}
QString version(int i)
{
    return QStringLiteral("1.") + QString::number(i % 7);
}
bool installed(int i)
{
    return i % 3 == 0; // 3,334 packages
}
namespace
{

bool upgradable(int i)
{
    return i % 30 == 0; // 334 of them: the catalog has a newer release
}
bool matchesKeyword(int i)
{
    return i % 10 == 7; // 1,000 descriptions
}

} // namespace

CatalogEntry entry(int i)
{
    CatalogEntry e;
    e.name = QString::asprintf("应用%05d", i);
    e.icon = shortName(i);
    e.version = version(i);
    e.rpm = shortName(i) + '-' + e.version + (upgradable(i) ? "-2" : "-1");
    e.type = QString::number(1 + i % 13);
    e.size = QString::number((1 + i % 90) * 1000000);
    e.star = QString::number(1 + i % 5);
    e.desc = (matchesKeyword(i) ? QStringLiteral("一个好用的编辑工具 #")
                                : QStringLiteral("一个普通的桌面应用 #")) +
             QString::number(i);
    e.exec = shortName(i) + QStringLiteral(" %U");
    return e;
}

namespace
{

bool execAll(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace

// Rows written in one transaction; the receiver's own statements would take minutes.
bool fill()
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *row = nullptr;
    bool ok = sqlite3_open(Paths::catalogDatabase().toUtf8().constData(), &db) == SQLITE_OK &&
              execAll(db, "begin") &&
              sqlite3_prepare_v2(db,
                                 "insert into softwares(s_name,s_icon,s_exec,s_rpm,s_version,"
                                 "s_size,s_description,s_rpmdeps,s_star,type,time,sign) "
                                 "values(?,?,?,?,?,?,?,?,?,?,?,?)",
                                 -1, &row, nullptr) == SQLITE_OK;
    for (int i = 0; ok && i < Packages; ++i) {
        const CatalogEntry e = entry(i);
        const QString texts[] = {e.name,
                                 e.icon,
                                 e.exec,
                                 e.rpm,
                                 e.version,
                                 e.size,
                                 e.desc,
                                 QStringLiteral("libc libqt"),
                                 e.star,
                                 e.type,
                                 QStringLiteral("20240101"),
                                 QStringLiteral("0")};
        for (int c = 0; c < 12; ++c) {
            const QByteArray text = texts[c].toUtf8();
            sqlite3_bind_text(row, c + 1, text.constData(), text.size(), SQLITE_TRANSIENT);
        }
        ok = sqlite3_step(row) == SQLITE_DONE && sqlite3_reset(row) == SQLITE_OK;
    }
    sqlite3_finalize(row);
    ok = ok && execAll(db, "commit");
    sqlite3_close(db);
    return ok;
}

bool writeIcons()
{
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::darkCyan);
    const QString first = Paths::iconDirectory() + shortName(0);
    if (!image.save(first, "PNG"))
        return false;
    for (int i = 1; i < Packages; ++i)
        if (!QFile::copy(first, Paths::iconDirectory() + shortName(i)))
            return false;
    return true;
}

QVector<TestPackage> installedPackages()
{
    QVector<TestPackage> packages;
    for (int i = 0; i < Packages; ++i)
        if (installed(i))
            packages.append({shortName(i), version(i)});
    return packages;
}

} // namespace BenchCatalog
