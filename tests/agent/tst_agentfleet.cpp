// The agent among real processes: the catalog server follows a repository and writes the
// desktop's plan into its file area, served over loopback HTTP; the agent fetches it, upgrades
// the sandbox's package with dnf and its report reaches the fleet database.
#include "records/paths.h"

#include "tests/core/queues/toolbox.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/freeport.h"
#include "tests/support/httpserver.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace
{

// Successful upgrades of cv-hello to 1.1-1 the fleet database holds for 127.0.0.1.
int upgradesRecorded(const QString &fleet)
{
    sqlite3 *db = nullptr;
    int count = -1;
    if (sqlite3_open_v2(fleet.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt *query = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT count(*) FROM results WHERE address = '127.0.0.1' AND oper ="
                           " 'upgrade' AND rpm = 'cv-hello-1.1-1' AND code = 0",
                           -1, &query, nullptr);
        if (query && sqlite3_step(query) == SQLITE_ROW)
            count = sqlite3_column_int(query, 0);
        sqlite3_finalize(query);
    }
    sqlite3_close(db);
    return count;
}

} // namespace

class TestAgentFleet : public QObject
{
    Q_OBJECT

private slots:
    void requiredUpgradeReachesTheFleet();
};

void TestAgentFleet::requiredUpgradeReachesTheFleet()
{
    TestRepository &repository = TestRepository::shared();
    QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
    Sandbox sandbox(&repository);
    QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
    useLoopbackTransport();
    QVERIFY(TestKey::catalog().trust());
    QVERIFY(sandbox.install(TestRepository::standardPackage("cv-hello", "1.0")));
    // One active graphical session; its user is told through the sandbox's notify-send.
    ToolBox tools(sandbox);
    tools.add("loginctl", "case \"$1\" in list-sessions) echo '3 1000 tester seat0';;\n"
                          "*) printf 'Active=yes\\nType=x11\\nName=tester\\nUser=1000\\n';; esac");
    tools.add("runuser", "while [ \"$1\" != -- ]; do shift; done; shift; exec \"$@\"");

    QTemporaryDir state;
    const QString files = state.filePath("files");
    QVERIFY(QDir().mkpath(files));
    QFile::setPermissions(files, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString overrides = state.filePath("overrides.conf");
    QFile statements(overrides);
    QVERIFY(statements.open(QIODevice::WriteOnly));
    // Past its deadline: due at once, whatever the clock of the test says.
    statements.write("require cv-hello by 2020-01-01 window 00:00-23:59 notice 1h\n");
    statements.close();
    const QString fleet = state.filePath("fleet.db");
    CatalogServerProcess server;
    QVERIFY(server.start({"--repository", repository.directory(), "--settle", "100", "--files",
                          files, "--overrides", overrides, "--fleet-db", fleet}));
    // The desktop becomes known to the server by its first report.
    QVERIFY(CatalogServerProcess::sendFrom(
        "127.0.0.1", {"<frame action='report_inventory'><datas client='127.0.0.1' "
                      "architecture='x86_64'><report id='00000000000000a1-1' time='1700000000'"
                      " sequence='1'/></datas></frame>"}));
    const QString plan = files + "/.cv_data/plans/127.0.0.1";
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(plan), 30000);

    HttpServer http(files);
    QVERIFY(http.isRunning());
    sandbox.setConfig("iconurl", http.url().chopped(1));
    QProcess agent;
    agent.setProcessChannelMode(QProcess::ForwardedChannels);
    agent.start(QStringLiteral(CORVANE_AGENT), {"--once"});
    QVERIFY(agent.waitForFinished(300000));
    QCOMPARE(agent.exitCode(), 0);
    QVERIFY(sandbox.isInstalled("cv-hello-1.1-1"));

    // The result, as the store's would, in the fleet database.
    QTRY_VERIFY_WITH_TIMEOUT(upgradesRecorded(fleet) == 1, 60000);
    // The user was told before the work and after it.
    const QString told = sandbox.notifications().join('\n');
    QVERIFY2(told.contains(QStringLiteral("软件维护通知")) &&
                 told.contains(QStringLiteral("软件维护结束")),
             qPrintable(told));
}

QTEST_GUILESS_MAIN(TestAgentFleet)
#include "tst_agentfleet.moc"
