// Times the facade's catalog queries on a catalog of 10,000 packages against the bare SQL
// through exec_select, which is what any implementation has to pay at least.
#include "facade/clientdemon.h"
#include "records/paths.h"
#include "storage/database.h"
#include "tests/support/freeport.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace
{

constexpr int Packages = 10000;
constexpr int Repetitions = 15;

const char *const Base =
    "select s_name,s_icon,s_exec,s_rpm,s_version,s_size,s_description,s_star,type,sign,s_rpmdeps "
    "from softwares";

bool upgradable(int i)
{
    return i % 30 == 0;
} // 334 packages
bool installed(int i)
{
    return i % 3 == 0;
} // 3,334 packages, the upgradable included
bool downloaded(int i)
{
    return i % 200 == 1;
} // 50 packages
bool matchesKeyword(int i)
{
    return i % 10 == 7;
} // 1,000 descriptions

bool execAll(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Rows written in one transaction per file; the store's own statements would take minutes.
bool fill()
{
    sqlite3 *catalog = nullptr;
    sqlite3 *local = nullptr;
    bool ok = sqlite3_open(Paths::catalogDatabase().toUtf8().constData(), &catalog) == SQLITE_OK &&
              sqlite3_open(Paths::localDatabase().toUtf8().constData(), &local) == SQLITE_OK &&
              execAll(catalog, "begin") && execAll(local, "begin");
    sqlite3_stmt *row = nullptr;
    sqlite3_stmt *soft = nullptr;
    sqlite3_stmt *load = nullptr;
    ok = ok &&
         sqlite3_prepare_v2(catalog,
                            "insert into softwares(s_name,s_icon,s_exec,s_rpm,s_version,s_size,"
                            "s_description,s_rpmdeps,s_star,type,time,sign) "
                            "values(?,?,?,?,?,?,?,?,?,?,?,?)",
                            -1, &row, nullptr) == SQLITE_OK &&
         sqlite3_prepare_v2(local, "insert into software(name,version,release_ver) values(?,?,?)",
                            -1, &soft, nullptr) == SQLITE_OK &&
         sqlite3_prepare_v2(local, "insert into loadmanage values(?,?,?,?,?,?)", -1, &load,
                            nullptr) == SQLITE_OK;
    for (int i = 0; ok && i < Packages; ++i) {
        const QByteArray icon = QString::asprintf("cv-app%05d", i).toUtf8();
        const QByteArray version = QByteArray("1.") + QByteArray::number(i % 7);
        const QByteArray texts[] = {
            QString::asprintf("应用%05d", i).toUtf8(),
            icon,
            icon + " %U",
            icon + '-' + version + "-1",
            version + "-1",
            QByteArray::number(1 + i % 90) + " MB",
            QString::fromUtf8(matchesKeyword(i) ? "一个好用的编辑工具" : "一个普通的桌面应用")
                    .toUtf8() +
                " #" + QByteArray::number(i),
            "libc libqt",
            QByteArray::number(1 + i % 5),
            QByteArray::number(1 + i % 13),
            "20240101",
            upgradable(i)  ? "1"
            : installed(i) ? "2"
                           : "0",
        };
        for (int c = 0; c < 12; ++c)
            sqlite3_bind_text(row, c + 1, texts[c].constData(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(row) == SQLITE_DONE && sqlite3_reset(row) == SQLITE_OK;
        if (ok && installed(i)) {
            const QByteArray old = upgradable(i) ? QByteArray("1.0") : version;
            sqlite3_bind_text(soft, 1, icon.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(soft, 2, old.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(soft, 3, "1.x86_64", -1, SQLITE_STATIC);
            ok = sqlite3_step(soft) == SQLITE_DONE && sqlite3_reset(soft) == SQLITE_OK;
        }
        if (ok && downloaded(i)) {
            const char *values[] = {texts[0].constData(), icon.constData(), "1 MB",
                                    "下载成功",           "下载",           "1"};
            for (int c = 0; c < 6; ++c)
                sqlite3_bind_text(load, c + 1, values[c], -1, SQLITE_TRANSIENT);
            ok = sqlite3_step(load) == SQLITE_DONE && sqlite3_reset(load) == SQLITE_OK;
        }
    }
    sqlite3_finalize(row);
    sqlite3_finalize(soft);
    sqlite3_finalize(load);
    ok = ok && execAll(catalog, "commit") && execAll(local, "commit");
    sqlite3_close(catalog);
    sqlite3_close(local);
    return ok;
}

double medianMs(const std::function<int()> &run, int *rows)
{
    std::vector<double> times;
    for (int i = 0; i < Repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        *rows = run();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int bareQuery(const QByteArray &sql)
{
    int rows = 0, columns = 0;
    char **result = exec_select(Paths::catalogDatabase().toUtf8().constData(), &rows, &columns,
                                sql.constData());
    free_result(result);
    return rows;
}

bool waitForLoad()
{
    const QByteArray db = Paths::catalogDatabase().toUtf8();
    return QTest::qWaitFor(
        [&] {
            int rows = 0, columns = 0;
            char **result = exec_select(db.constData(), &rows, &columns,
                                        "select sign from softwares where s_name='sentinel'");
            const bool done = result && QByteArray(result[0]) == "0";
            free_result(result);
            return done;
        },
        120000);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    useLoopbackTransport();
    qSetMessagePattern(QStringLiteral("%{if-warning}%{message}%{endif}"));

    // One installed package, so that the facade's load finds a non-empty RPM database.
    TestRepository repository({{QStringLiteral("cv-bench"), QStringLiteral("1.0")}});
    Sandbox sandbox(&repository);
    if (!repository.isValid() || !sandbox.isValid() ||
        !sandbox.install(repository.packages().first())) {
        std::fprintf(stderr, "no sandbox: %s%s\n", qPrintable(repository.errorString()),
                     qPrintable(sandbox.errorString()));
        return 1;
    }
    exec_sql(Paths::catalogDatabase().toUtf8().constData(),
             "insert into softwares(s_name,s_rpm) values('sentinel','cv-sentinel-1-1')");
    std::unique_ptr<ClientDemon> demon(new ClientDemon);
    // Filled only after the load has computed its install states, which would reset ours.
    if (!waitForLoad() || !fill()) {
        std::fprintf(stderr, "cannot fill the catalog\n");
        return 1;
    }
    exec_sql(Paths::catalogDatabase().toUtf8().constData(),
             "delete from softwares where s_name='sentinel'");

    struct Case {
        const char *label;
        int mode;
        QString category;
        QString keyword;
        QByteArray floor;
    };
    const QByteArray base(Base);
    const Case cases[] = {
        {"all packages", 0, QString(), QString(), base},
        {"one category", 0, QStringLiteral("编程开发"), QString(), base + " where type='2'"},
        {"keyword", 0, QString(), QStringLiteral("编辑"),
         base + " where s_name like '%编辑%' or s_description like '%编辑%'"},
        {"mode 1 (upgradable)", 1, QString(), QString(), base},
        {"mode 2 (installed)", 2, QString(), QString(), base},
    };

    std::printf("%d packages, median of %d runs\n\n", Packages, Repetitions);
    std::printf("%-22s %7s %12s %7s %12s %8s\n", "query", "rows", "facade ms", "sql rows",
                "floor ms", "ratio");
    for (const Case &c : cases) {
        int rows = 0, floorRows = 0;
        const double facade = medianMs(
            [&] { return demon->selectSoftware(c.mode, c.category, c.keyword).size(); }, &rows);
        const double floor = medianMs([&] { return bareQuery(c.floor); }, &floorRows);
        std::printf("%-22s %7d %12.2f %7d %12.2f %8.2f\n", c.label, rows, facade, floorRows, floor,
                    floor > 0 ? facade / floor : 0.0);
    }
    demon.reset();
    return 0;
}
