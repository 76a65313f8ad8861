#include "fleet/fleetdatabase.h"
#include "fleet/fleetstatement.h"

#include <sqlite3.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace
{

// The fleet database as the first server with fleet reports made it.
const char *const Layout1 =
    "PRAGMA journal_mode=WAL;"
    "CREATE TABLE IF NOT EXISTS desktops(address TEXT PRIMARY KEY, account TEXT,"
    " first_seen INTEGER, last_seen INTEGER, sequence INTEGER, inventory_time INTEGER);"
    "CREATE TABLE IF NOT EXISTS installed(address TEXT, name TEXT, version TEXT,"
    " PRIMARY KEY(address, name)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS installed_name ON installed(name, version);"
    "CREATE TABLE IF NOT EXISTS results(address TEXT, report TEXT, time INTEGER,"
    " received INTEGER, oper TEXT, rpm TEXT, name TEXT, code INTEGER, echo TEXT,"
    " PRIMARY KEY(address, report));"
    "CREATE INDEX IF NOT EXISTS results_received ON results(received);"
    "CREATE INDEX IF NOT EXISTS results_name ON results(name);"
    "INSERT INTO desktops VALUES('10.0.0.5', 'li', 1, 2, 3, 2);"
    "INSERT INTO installed VALUES('10.0.0.5', 'cv-hello', '1.0-1');"
    "INSERT INTO results VALUES('10.0.0.5', 'r1', 1, 2, '安装', 'cv-hello-1.0-1', 'cv-hello', 0,"
    " '');";

// What staged rollouts added.
const char *const Layout2 =
    "CREATE TABLE IF NOT EXISTS rollouts(package TEXT, version TEXT, previous TEXT,"
    " pilots TEXT, groups TEXT, started INTEGER, state TEXT, changed INTEGER, reason TEXT,"
    " PRIMARY KEY(package, version));"
    "CREATE TABLE IF NOT EXISTS repository_versions(package TEXT PRIMARY KEY, version TEXT)"
    " WITHOUT ROWID;"
    "INSERT INTO repository_versions VALUES('cv-hello', '1.1-1');";

// What layout 3 added: the account of each result; here, a desktop whose inventory came dated
// 2^33 and froze it.
const char *const Layout3 = "ALTER TABLE results ADD COLUMN account TEXT;"
                            "UPDATE results SET account = 'li';"
                            "UPDATE desktops SET inventory_time = 8589934592;"
                            "PRAGMA user_version=3;";

// The first column of every row, joined with ','; "error" when the query fails.
QString column(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    QStringList cells;
    int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    if (rc == SQLITE_OK)
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
            cells << QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rc == SQLITE_DONE ? cells.join(QLatin1Char(',')) : QStringLiteral("error");
}

bool exec(const QString &path, const QByteArray &sql)
{
    sqlite3 *db = nullptr;
    const bool ok = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One desktop's reports stored as the ingest stores them, on a clock the test moves.
struct Desktop {
    QString path;
    FleetDatabase db;
    qint64 now = 1700000000;
    int sent = 0;

    bool store(const QString &text)
    {
        FleetDatabase::Report report{QStringLiteral("10.0.0.5"), QStringLiteral("li"), now, {}};
        QString error;
        return report.frame.parse(text, &error) && db.store({report}, 90, &error);
    }
    // "results N", "again N" (the first N ids once more), "wait SECONDS", "offer NAME" (the
    // repository has it), "inventory TIME N" (cv-hello and N invented names; TIME: "now" or
    // seconds).
    bool step(const QString &text)
    {
        const QStringList words = text.split(QLatin1Char(' '));
        const int count = words.value(words.size() - 1).toInt();
        if (words[0] == QLatin1String("wait")) {
            now += count;
        } else if (words[0] == QLatin1String("offer")) {
            // Written on a connection of its own, as the rollout book does.
            FleetDatabase book;
            QString error;
            if (!book.open(path, false, &error))
                return false;
            FleetStatement offer(book.handle(),
                                 "INSERT INTO repository_versions VALUES(?1, '1.0-1')");
            return offer.text(1, words[1]).run() == 1;
        } else if (words[0] == QLatin1String("inventory")) {
            ReportFrame::Inventory inventory;
            inventory.id = QStringLiteral("00000000000000b1-%1").arg(++sent);
            inventory.time = words[1] == QLatin1String("now") ? now : words[1].toLongLong();
            inventory.packages << QStringLiteral("cv-hello-1.0-1");
            for (int i = 0; i < count; ++i)
                inventory.packages << QStringLiteral("cv-made%1-1-1").arg(i);
            return store(
                ReportFrame::composeInventory(QStringLiteral("10.0.0.5"), inventory, 1 << 20));
        } else {
            const bool again = words[0] == QLatin1String("again");
            for (int i = 0; i < count; ++i) {
                ReportFrame::Result result;
                result.id = QStringLiteral("00000000000000a1-%1").arg(again ? i + 1 : ++sent);
                result.time = now;
                result.oper = QStringLiteral("升级");
                result.rpm = QStringLiteral("cv-hello-1.1-1");
                result.echo = QString(1024, QLatin1Char('x'));
                if (!store(ReportFrame::composeResult(QStringLiteral("10.0.0.5"), result)))
                    return false;
            }
        }
        return true;
    }
};

} // namespace

// The fleet database of every earlier server is brought up to date when the service opens it;
// one of a later server is left alone.
class FleetDatabaseTest : public QObject
{
    Q_OBJECT

private slots:
    void earlierLayoutsComeUpToDate_data()
    {
        QTest::addColumn<QByteArray>("statements"); // empty: no file yet
        QTest::addColumn<QString>("desktops");
        QTest::addColumn<QString>("versions");
        QTest::newRow("none") << QByteArray() << ""
                              << "";
        QTest::newRow("layout 1") << QByteArray(Layout1) << "10.0.0.5"
                                  << "";
        QTest::newRow("layout 2, unnumbered") << QByteArray(Layout1) + Layout2 << "10.0.0.5"
                                              << "cv-hello";
        QTest::newRow("layout 2") << QByteArray(Layout1) + Layout2 + "PRAGMA user_version=2;"
                                  << "10.0.0.5"
                                  << "cv-hello";
        QTest::newRow("layout 3, an inventory dated ahead")
            << QByteArray(Layout1) + Layout2 + Layout3 << "10.0.0.5"
            << "cv-hello";
    }
    void earlierLayoutsComeUpToDate()
    {
        QFETCH(QByteArray, statements);
        QFETCH(QString, desktops);
        QFETCH(QString, versions);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fleet.db"));
        if (!statements.isEmpty())
            QVERIFY(exec(path, statements));
        {
            FleetDatabase db;
            QString error;
            QVERIFY2(db.open(path, false, &error), qPrintable(error));
        }
        QCOMPARE(column(path, "PRAGMA user_version"), QStringLiteral("7"));
        QCOMPARE(column(path, "select address from desktops"), desktops);
        // The label an earlier store sent is its key now.
        QCOMPARE(column(path, "select oper from results"),
                 desktops.isEmpty() ? QString() : QStringLiteral("install"));
        // Its next inventory counts again.
        QCOMPARE(column(path, "select inventory_time from desktops"),
                 desktops.isEmpty() ? QString() : QStringLiteral("2"));
        // A result before layout 3 counts under the account its desktop last reported from.
        QCOMPARE(column(path, "select account from results"),
                 desktops.isEmpty() ? QString() : QStringLiteral("li"));
        QCOMPARE(column(path, "select count(*) from installed natural join results"),
                 desktops.isEmpty() ? QStringLiteral("0") : QStringLiteral("1"));
        QCOMPARE(column(path, "select package from repository_versions"), versions);
        QCOMPARE(column(path, "select count(*) from rollouts"), QStringLiteral("0"));
        // Layout 6: each rollout's delay, and the repository's advisories.
        QCOMPARE(column(path, "select count(delay) + count(severity) from rollouts"),
                 QStringLiteral("0"));
        QCOMPARE(column(path, "select count(*) from advisories natural join advisory_packages"),
                 QStringLiteral("0"));
        // Every file, new or brought up, has its audit log and keeps its rows as written.
        QVERIFY(exec(path, "INSERT INTO audit(time, who) VALUES(strftime('%s', 'now'), 'li');"));
        QVERIFY(!exec(path, "UPDATE audit SET who = 'someone else';"));
        QVERIFY(!exec(path, "DELETE FROM audit;"));
        QCOMPARE(column(path, "select who from audit"), QStringLiteral("li"));
    }

    void newerLayoutIsRefused_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("service") << false;
        QTest::newRow("report") << true;
    }
    void newerLayoutIsRefused()
    {
        QFETCH(bool, readOnly);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fleet.db"));
        QVERIFY(exec(path, QByteArray(Layout1) + Layout2 + "PRAGMA user_version=8;"));
        const QByteArray before = contents(path);
        FleetDatabase db;
        QString error;
        QVERIFY(!db.open(path, readOnly, &error));
        QVERIFY2(error.contains(QLatin1String("newer")), qPrintable(error));
        QVERIFY(!error.contains(QLatin1Char('\n')));
        QCOMPARE(contents(path), before);
    }

    // A step that fails undoes the steps before it: the file stays at its layout until an
    // open succeeds.
    void failedMigrationIsTakenUpLater()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fleet.db"));
        // An index in the way of the second table of layout 2.
        QVERIFY(
            exec(path, QByteArray(Layout1) + "CREATE INDEX repository_versions ON results(name);"));
        {
            FleetDatabase db;
            QString error;
            QVERIFY(!db.open(path, false, &error));
        }
        QCOMPARE(column(path, "PRAGMA user_version"), QStringLiteral("0"));
        QCOMPARE(column(path, "select count(*) from rollouts"), QStringLiteral("error"));
        QCOMPARE(column(path, "select address from desktops"), QStringLiteral("10.0.0.5"));

        QVERIFY(exec(path, "DROP INDEX repository_versions;"));
        FleetDatabase db;
        QString error;
        QVERIFY2(db.open(path, false, &error), qPrintable(error));
        QCOMPARE(column(path, "PRAGMA user_version"), QStringLiteral("7"));
        QCOMPARE(column(path, "select address from desktops"), QStringLiteral("10.0.0.5"));
    }

    void desktopBounds_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("kept"); // results or installed rows kept, and those counted
        const QString results = "select count(*) || ' ' || results_dropped from results, desktops";
        const QString installed =
            "select count(*) || ' ' || unknown_packages from installed, desktops";
        QTest::newRow("a flood of result ids")
            << QStringList{"results 1000"} << results << "200 800";
        QTest::newRow("sent again is not one more")
            << QStringList{"results 200", "again 50", "results 10"} << results << "200 10";
        QTest::newRow("the next day")
            << QStringList{"results 300", "wait 86400", "results 300"} << results << "400 200";
        QTest::newRow("invented names")
            << QStringList{"inventory now 10", "offer cv-hello", "inventory now 2900"} << installed
            << "51 2900";
        QTest::newRow("no repository to tell them by")
            << QStringList{"inventory now 100"} << installed << "101 0";
        QTest::newRow("an inventory dated ahead does not freeze the next")
            << QStringList{"inventory 8589934592 0", "wait 60", "inventory now 3"} << installed
            << "4 0";
        QTest::newRow("within the skew it does")
            << QStringList{"inventory 1700003000 0", "wait 60", "inventory now 3"} << installed
            << "1 0";
    }
    // Past its bounds, what a desktop sends is counted, not kept.
    void desktopBounds()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, query);
        QFETCH(QString, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fleet.db"));
        Desktop desktop;
        desktop.path = path;
        QString error;
        QVERIFY2(desktop.db.open(path, false, &error), qPrintable(error));
        for (const QString &step : steps)
            QVERIFY2(desktop.step(step), qPrintable(step));
        QCOMPARE(column(path, query.toUtf8().constData()), kept);
    }
};

QTEST_GUILESS_MAIN(FleetDatabaseTest)
#include "tst_fleetdatabase.moc"
