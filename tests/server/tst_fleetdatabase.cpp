#include "fleet/fleetdatabase.h"

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
        QCOMPARE(column(path, "PRAGMA user_version"), QStringLiteral("3"));
        QCOMPARE(column(path, "select address from desktops"), desktops);
        // A result before layout 3 counts under the account its desktop last reported from.
        QCOMPARE(column(path, "select account from results"),
                 desktops.isEmpty() ? QString() : QStringLiteral("li"));
        QCOMPARE(column(path, "select count(*) from installed natural join results"),
                 desktops.isEmpty() ? QStringLiteral("0") : QStringLiteral("1"));
        QCOMPARE(column(path, "select package from repository_versions"), versions);
        QCOMPARE(column(path, "select count(*) from rollouts"), QStringLiteral("0"));
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
        QVERIFY(exec(path, QByteArray(Layout1) + Layout2 + "PRAGMA user_version=4;"));
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
        QCOMPARE(column(path, "PRAGMA user_version"), QStringLiteral("3"));
        QCOMPARE(column(path, "select address from desktops"), QStringLiteral("10.0.0.5"));
    }
};

QTEST_GUILESS_MAIN(FleetDatabaseTest)
#include "tst_fleetdatabase.moc"
