#include "records/paths.h"
#include "storage/database.h"
#include "storage/queryresult.h"
#include "tests/support/sandbox.h"

#include <sqlite3.h>

#include <QElapsedTimer>
#include <QTest>

#include <thread>

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

private:
    QScopedPointer<Sandbox> m_sandbox;
    QByteArray m_catalog;
    QByteArray m_local;
};

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
