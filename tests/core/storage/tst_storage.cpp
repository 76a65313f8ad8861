#include "records/paths.h"
#include "storage/database.h"
#include "storage/queryresult.h"
#include "storage/sqlconnection.h"
#include "storage/storeschema.h"
#include "tests/support/sandbox.h"
#include "tests/support/sqlrows.h"

#include <sqlite3.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <thread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// Holds a lock on a database file from another connection for a while, as another writer
// of the store would.
class LockHolder
{
public:
    LockHolder(const QString &path, const char *begin, int holdMs)
    {
        sqlite3_open(path.toUtf8().constData(), &m_db);
        m_locked = sqlite3_exec(m_db, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
        m_thread = std::thread([this, holdMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        });
    }
    ~LockHolder()
    {
        m_thread.join();
        sqlite3_close(m_db);
    }
    bool locked() const { return m_locked; }

private:
    sqlite3 *m_db = nullptr;
    bool m_locked = false;
    std::thread m_thread;
};

int countRows(const QByteArray &db, const char *sql)
{
    int rows = 0, columns = 0;
    char **result = exec_select(db.constData(), &rows, &columns, sql);
    const int count = result ? QByteArray(result[0]).toInt() : -1;
    free_result(result);
    return count;
}

// The catalog database as the first release installed it.
const char *const CatalogLayout1 =
    "CREATE TABLE softwares (s_name TEXT, s_icon TEXT, s_exec TEXT, s_rpm TEXT, s_version TEXT,"
    " s_size TEXT, s_description TEXT, s_rpmdeps TEXT, s_star TEXT, type TEXT, time TEXT,"
    " sign TEXT);"
    "CREATE INDEX softwares_s_name ON softwares(s_name);"
    "CREATE INDEX softwares_s_rpm ON softwares(s_rpm);"
    "CREATE INDEX softwares_s_icon ON softwares(s_icon);"
    "CREATE INDEX softwares_type ON softwares(type);"
    "INSERT INTO softwares(s_name, s_rpm, sign) VALUES('播放器', 'player-1.0-1', '2');";

// Runs sql on a connection of its own, outside the store's functions.
bool rawExec(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    const bool ok = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

int userVersion(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr);
    const int version =
        sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return version;
}

// Replaces the sandbox's database with one made by statements of an earlier release.
bool makeDatabase(const QString &path, const char *statements)
{
    return QFile::remove(path) && rawExec(path, statements);
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

class TestStorage : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_sandbox.reset(new Sandbox);
        QVERIFY2(m_sandbox->isValid(), qPrintable(m_sandbox->errorString()));
        m_catalog = Paths::catalogDatabase().toUtf8();
        m_local = Paths::localDatabase().toUtf8();
    }
    void cleanup() { m_sandbox.reset(); }

    void cellLayout()
    {
        QCOMPARE(exec_sql(m_catalog.constData(),
                          "insert into softwares(s_name,s_icon,s_rpm) values(?,?,?)", "播放器", "",
                          "player-1.0-1.x86_64"),
                 0);
        QCOMPARE(
            exec_sql(m_catalog.constData(), "insert into softwares(s_name) values(?)", "second"),
            0);
        int rows = 0, columns = 0;
        char **result =
            exec_select(m_catalog.constData(), &rows, &columns,
                        "select s_name,s_icon,s_rpm,sign from softwares order by rowid");
        QVERIFY(result);
        QCOMPARE(rows, 2);
        QCOMPARE(columns, 4);
        const QStringList expected = {"播放器", "", "player-1.0-1.x86_64", "", "second", "",
                                      "",       ""};
        for (int i = 0; i < rows * columns; ++i) {
            QVERIFY2(result[i], "NULL and empty cells are allocated empty strings");
            QCOMPARE(QString::fromUtf8(result[i]), expected.at(i));
        }
        QVERIFY(result[rows * columns] == nullptr);
        free_result(result);
    }

    void noRowKeepsColumnCount()
    {
        int rows = 7, columns = 7;
        char **result =
            exec_select(m_catalog.constData(), &rows, &columns,
                        "select s_name,s_rpm,type from softwares where s_name=?", "none");
        QVERIFY(result == nullptr);
        QCOMPARE(rows, 0);
        QCOMPARE(columns, 3);
    }

    void oneCell()
    {
        QCOMPARE(exec_sql(m_local.constData(),
                          "insert into software(name,version,release_ver) values(?,?,?)",
                          "cv-hello", "1.0", "1.x86_64"),
                 0);
        int rows = 0, columns = 0;
        char **result = exec_select(m_local.constData(), &rows, &columns,
                                    "select version from software where name=?", "cv-hello");
        QVERIFY(result);
        QCOMPARE(QByteArray(result[0]), QByteArray("1.0"));
        QVERIFY(result[1] == nullptr);
        free_result(result);
        free_result(nullptr);
    }

    void queryResultHoldsWhatExecSelectGives_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("parameter");
        QTest::newRow("every row, NULL cells") << "select s_name,s_icon,sign from softwares"
                                               << "";
        QTest::newRow("parameter") << "select s_name from softwares where s_name=?"
                                   << "播放器";
        QTest::newRow("no row") << "select s_name from softwares where s_name=?"
                                << "none";
        QTest::newRow("failing statement") << "select nothing from nowhere"
                                           << "";
    }
    void queryResultHoldsWhatExecSelectGives()
    {
        QFETCH(QString, sql);
        QFETCH(QString, parameter);
        for (const char *name : {"播放器", "second", "第三"})
            QCOMPARE(
                exec_sql(m_catalog.constData(), "insert into softwares(s_name) values(?)", name),
                0);
        int rows = 0, columns = 0;
        char **cells = exec_select(m_catalog.constData(), &rows, &columns, sql.toUtf8().constData(),
                                   parameter.toUtf8().constData());
        const QueryResult result(Paths::catalogDatabase(), sql, {parameter});
        QCOMPARE(result.rows(), rows);
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < columns; ++column)
                QCOMPARE(result.text(row, column),
                         QString::fromUtf8(cells[row * columns + column]));
        free_result(cells);
    }

    // A "?" inside a literal is no parameter: only the real placeholders are bound.
    void questionMarkInLiteral()
    {
        QCOMPARE(exec_sql(m_catalog.constData(),
                          "insert into softwares(s_name,s_description) values(?,'what?')", "q"),
                 0);
        int rows = 0, columns = 0;
        char **result = exec_select(
            m_catalog.constData(), &rows, &columns,
            "select s_name from softwares where s_description like '%?%' and s_name=?", "q");
        QVERIFY(result);
        QCOMPARE(rows, 1);
        QCOMPARE(QByteArray(result[0]), QByteArray("q"));
        free_result(result);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("sql");
        QTest::newRow("syntax") << QByteArray("insert into nowhere values(");
        QTest::newRow("missing table") << QByteArray("delete from missing");
    }
    void failures()
    {
        QFETCH(QByteArray, sql);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(exec_sql(m_catalog.constData(), sql.constData()), 1);
        int rows = 0, columns = 0;
        QVERIFY(exec_select(m_catalog.constData(), &rows, &columns, sql.constData()) == nullptr);
        QVERIFY2(timer.elapsed() < 900, "an error that is no lock fails at once");
    }

    void missingFile()
    {
        const QByteArray path = m_sandbox->path("/no/such/dir/x.db").toUtf8();
        QCOMPARE(exec_sql(path.constData(), "select 1"), 1);
        int rows = 0, columns = 0;
        QVERIFY(exec_select(path.constData(), &rows, &columns, "select 1") == nullptr);
    }

    // Exclusive locks stop a call at prepare, reserved ones at step; either way a lock that
    // goes away within the budget lets the write land, and one that outlasts it fails.
    void lockedDatabase_data()
    {
        QTest::addColumn<QByteArray>("begin");
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<int>("expected");
        QTest::newRow("exclusive released") << QByteArray("BEGIN EXCLUSIVE") << 2000 << 0;
        QTest::newRow("reserved released") << QByteArray("BEGIN IMMEDIATE") << 2000 << 0;
        QTest::newRow("exclusive held") << QByteArray("BEGIN EXCLUSIVE") << 9000 << 1;
        QTest::newRow("reserved held") << QByteArray("BEGIN IMMEDIATE") << 9000 << 1;
    }
    void lockedDatabase()
    {
        QFETCH(QByteArray, begin);
        QFETCH(int, holdMs);
        QFETCH(int, expected);
        {
            LockHolder holder(QString::fromUtf8(m_local), begin.constData(), holdMs);
            QVERIFY(holder.locked());
            QCOMPARE(exec_sql(m_local.constData(), "insert into loadmanage values(?,?,?,?,?,?)",
                              "名", "key", "1M", "正在下载", "下载", "0"),
                     expected);
        }
        QCOMPARE(countRows(m_local.constData(), "select count(*) from loadmanage"),
                 expected == 0 ? 1 : 0);
    }

    void selectOnLockedDatabase()
    {
        QCOMPARE(exec_sql(m_catalog.constData(), "insert into softwares(s_name) values(?)", "a"),
                 0);
        LockHolder holder(QString::fromUtf8(m_catalog), "BEGIN EXCLUSIVE", 9000);
        QVERIFY(holder.locked());
        int rows = 0, columns = 0;
        QVERIFY(exec_select(m_catalog.constData(), &rows, &columns,
                            "select s_name from softwares") == nullptr);
        QCOMPARE(rows, 0);
    }

    // A file installed by an earlier release is brought to the current layout at its first
    // open, its rows kept; the catalog's frame sequence moves in from its old file.
    void earlierLayoutsComeUpToDate_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("statements");
        QTest::addColumn<QByteArray>("sequenceFile"); // null: none
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QStringList>("rows");

        const QByteArray catalogRows =
            "select s_name, sign from softwares union all select 'sequence', last from "
            "frame_sequence union all select 'advisories', count(*) from advisories";
        QTest::newRow("catalog 1")
            << "server_software.db" << QByteArray(CatalogLayout1) << QByteArray() << catalogRows
            << QStringList{"播放器|2", "sequence|0", "advisories|0"};
        QTest::newRow("catalog 1, sequence file")
            << "server_software.db" << QByteArray(CatalogLayout1) << QByteArray("41\n")
            << catalogRows << QStringList{"播放器|2", "sequence|41", "advisories|0"};
        QTest::newRow("catalog 2, unnumbered")
            << "server_software.db"
            << QByteArray(CatalogLayout1) +
                   "CREATE TABLE frame_sequence (id INTEGER PRIMARY KEY CHECK (id = 1),"
                   " last TEXT NOT NULL, at TEXT NOT NULL DEFAULT '0');"
                   "INSERT INTO frame_sequence (id, last) VALUES (1, '7');"
            << QByteArray() << catalogRows << QStringList{"播放器|2", "sequence|7", "advisories|0"};
        QTest::newRow("local 1, unnumbered")
            << "software.db"
            << QByteArray("CREATE TABLE software (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT,"
                          " version TEXT, release_ver TEXT);"
                          "CREATE INDEX software_name ON software(name);"
                          "CREATE TABLE loadmanage (display_name TEXT, name TEXT, size TEXT,"
                          " state TEXT, operation TEXT, number TEXT);"
                          "CREATE TABLE loadrecord (display_name TEXT, name TEXT, size TEXT,"
                          " state TEXT, operation TEXT, number TEXT);"
                          "INSERT INTO software(name, version, release_ver)"
                          " VALUES('cv-hello', '1.0', '1.x86_64');"
                          "INSERT INTO loadrecord VALUES('你好', 'cv-hello', '1M', '下载成功',"
                          " '下载', '2');")
            << QByteArray()
            << QByteArray("select name, version from software union all"
                          " select name, state from loadrecord")
            << QStringList{"cv-hello|1.0", "cv-hello|下载成功"};
    }
    void earlierLayoutsComeUpToDate()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, statements);
        QFETCH(QByteArray, sequenceFile);
        QFETCH(QByteArray, query);
        QFETCH(QStringList, rows);
        const QString path = m_sandbox->path("/opt/corvane/db/") + file;
        QVERIFY(makeDatabase(path, statements.constData()));
        if (!sequenceFile.isNull())
            writeFile(Paths::frameSequenceFile(), sequenceFile);

        QCOMPARE(rowsOf(path.toUtf8(), query.constData()), rows);
        QCOMPARE(userVersion(path), StoreSchema::of(file)->current());
        QVERIFY(!QFileInfo::exists(Paths::frameSequenceFile()));
    }

    // A file of a later release is neither read nor written.
    void newerLayoutIsRefused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("catalog") << "server_software.db";
        QTest::newRow("local") << "software.db";
    }
    void newerLayoutIsRefused()
    {
        QFETCH(QString, file);
        const QString path = m_sandbox->path("/opt/corvane/db/") + file;
        const int current = StoreSchema::of(file)->current();
        QCOMPARE(userVersion(path), current);
        const QByteArray pragma = "PRAGMA user_version=" + QByteArray::number(current + 1);
        QVERIFY(rawExec(path, pragma.constData()));
        const QByteArray before = contents(path);

        QCOMPARE(exec_sql(path.toUtf8().constData(), "create table added(x)"), 1);
        int rows = 0, columns = 0;
        QVERIFY(exec_select(path.toUtf8().constData(), &rows, &columns,
                            "select count(*) from sqlite_master") == nullptr);
        SqlConnection connection;
        QVERIFY(!connection.open(path));
        QCOMPARE(contents(path), before);
    }

    // A migration cut off (the process killed in it, or a step that fails) leaves the file as
    // it was, still usable; the next start completes it.
    void interruptedMigrationIsTakenUpLater_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::addColumn<QByteArray>("sequenceFile");
        QTest::addColumn<QByteArray>("sequenceLater");
        QTest::addColumn<QString>("last");
        QTest::newRow("killed") << true << QByteArray() << QByteArray() << "0";
        QTest::newRow("unreadable sequence file")
            << false << QByteArray("12x") << QByteArray("41") << "41";
    }
    void interruptedMigrationIsTakenUpLater()
    {
        QFETCH(bool, kill);
        QFETCH(QByteArray, sequenceFile);
        QFETCH(QByteArray, sequenceLater);
        QFETCH(QString, last);
        const QString path = Paths::catalogDatabase();
        QVERIFY(makeDatabase(path, CatalogLayout1));
        if (!sequenceFile.isNull())
            writeFile(Paths::frameSequenceFile(), sequenceFile);
        const QByteArray names = "select s_name from softwares";

        if (kill) {
            // A reader keeps the migration from committing while the process is killed in it.
            sqlite3 *reader = nullptr;
            sqlite3_open(m_catalog.constData(), &reader);
            QVERIFY(sqlite3_exec(reader, "BEGIN; select count(*) from softwares;", nullptr, nullptr,
                                 nullptr) == SQLITE_OK);
            const pid_t child = ::fork();
            if (child == 0) {
                rowsOf(m_catalog, names.constData());
                ::_exit(0);
            }
            const QString journal = path + QStringLiteral("-journal");
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(journal), 1500);
            ::kill(child, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFSIGNALED(status));
            sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(reader);
        } else {
            QCOMPARE(rowsOf(m_catalog, names.constData()), QStringList{"播放器"});
        }
        // Read past the store's functions, which would migrate it.
        QCOMPARE(userVersion(path), 0);
        QVERIFY(!rawExec(path, "select * from frame_sequence"));
        QVERIFY(rawExec(path, "select s_name from softwares"));

        if (!sequenceLater.isNull())
            writeFile(Paths::frameSequenceFile(), sequenceLater);
        QCOMPARE(StoreSchema::upgrade(path), SchemaVersion::Outcome::Upgraded);
        QCOMPARE(userVersion(path), StoreSchema::of(QFileInfo(path).fileName())->current());
        QCOMPARE(rowsOf(m_catalog, "select s_name, last from softwares, frame_sequence"),
                 QStringList{"播放器|" + last});
    }

private:
    QScopedPointer<Sandbox> m_sandbox;
    QByteArray m_catalog;
    QByteArray m_local;
};

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
