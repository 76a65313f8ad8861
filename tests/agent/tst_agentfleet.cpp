// The agent among real processes: the catalog server follows a repository and writes each
// desktop's plan into its file area, served over loopback HTTP; the agent fetches it, works on
// the sandbox's RPM database with dnf and its report reaches the fleet database.
#include "queues/quitinstallthread.h"
#include "records/paths.h"
#include "sync/planframe.h"

#include "tests/core/queues/resultrecorder.h"
#include "tests/core/queues/toolbox.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/freeport.h"
#include "tests/support/httpserver.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"
#include "tools/demo-catalog/appstreamfile.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>

namespace
{

const int Long = 300000;

// The rows of a one-column query, or the error.
QStringList column(const QString &database, const char *sql)
{
    sqlite3 *db = nullptr;
    QStringList rows;
    if (sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK) {
        sqlite3_stmt *query = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) == SQLITE_OK)
            while (sqlite3_step(query) == SQLITE_ROW)
                rows << QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(query, 0)));
        else
            rows << QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(query);
    }
    sqlite3_close(db);
    return rows;
}

// The fleet's results as "ADDRESS OPER RPM CODE".
QStringList results(const QString &fleet)
{
    return column(fleet, "SELECT address || ' ' || oper || ' ' || rpm || ' ' || code FROM results"
                         " ORDER BY rowid");
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A desktop: cv-hello 1.0 installed, the catalog key trusted (in the sandbox made last).
bool prepareDesktop(const Sandbox &desk)
{
    return desk.isValid() && TestKey::catalog().trust() &&
           desk.install(TestRepository::standardPackage("cv-hello", "1.0"));
}

// The agent of the desktop in this sandbox, speaking from its address.
void prepareAgent(QProcess &agent, const Sandbox &desk, const QString &address)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CORVANE_ROOT", desk.root());
    environment.insert("VQS_BIND", address);
    agent.setProcessEnvironment(environment);
    agent.setProcessChannelMode(QProcess::ForwardedChannels);
}

bool runAgentOnce(const Sandbox &desk, const QString &address)
{
    QProcess agent;
    prepareAgent(agent, desk, address);
    agent.start(QStringLiteral(CORVANE_AGENT), {"--once"});
    return agent.waitForFinished(Long) && agent.exitStatus() == QProcess::NormalExit &&
           agent.exitCode() == 0;
}

// A catalog server following the repository, with the given requirements, its fleet database
// and file area in a folder of its own, the file area served over loopback HTTP.
struct Fleet {
    QTemporaryDir state;
    CatalogServerProcess server;
    std::unique_ptr<HttpServer> http;

    QString files() const { return state.filePath("files"); }
    QString database() const { return state.filePath("fleet.db"); }
    QString planOf(const QString &address) const { return files() + "/.cv_data/plans/" + address; }

    bool start(const TestRepository &repository, const QByteArray &requirements,
               const QStringList &options = {})
    {
        QFile overrides(state.filePath("overrides.conf"));
        if (!QDir().mkpath(files()) || !overrides.open(QIODevice::WriteOnly) ||
            overrides.write(requirements) != requirements.size())
            return false;
        overrides.close();
        ::chmod(QFile::encodeName(files()).constData(), 0700);
        http.reset(new HttpServer(files()));
        return http->isRunning() &&
               server.start(QStringList{"--repository", repository.directory(), "--settle", "100",
                                        "--files", files(), "--overrides", overrides.fileName(),
                                        "--fleet-db", database()} +
                            options);
    }

    // The desktop becomes known to the server by its first report; its agent is pointed at
    // the file area.
    bool join(Sandbox &desk, const QString &address)
    {
        desk.setConfig("localip", address);
        desk.setConfig("iconurl", http->url().chopped(1));
        return CatalogServerProcess::sendFrom(
            address, {"<frame action='report_inventory'><datas client='" + address +
                      "' architecture='x86_64'><report id='00000000000000a1-1' time='1700000000'"
                      " sequence='1'/></datas></frame>"});
    }
};

// A plan's item for the version a failing pilot tried.
const QString Held = QStringLiteral("version=\"1.1-1\"");

// With a deadline passed: due at once (no notice to wait out), whatever the test's clock says.
const QByteArray DueNow = "window 00:00-23:59 notice 0\n";

// An rpm that notes the start and end of each change the store makes and an agent's yum that
// does the same, each waiting at the gate "$EVENTS.open" when told to.
QString gatedTool(const QString &who, const QString &changes, bool gated)
{
    return QStringLiteral("case \" $* \" in %1) ;; *) exec \"$SHIM\" \"$@\";; esac\n"
                          "echo %2-start >> \"$EVENTS\"\n%3"
                          "\"$SHIM\" \"$@\"; rc=$?; echo %2-end >> \"$EVENTS\"; exit $rc")
        .arg(changes, who,
             gated ? QStringLiteral("n=0; while [ ! -e \"$EVENTS.open\" ] && [ $n -lt 6000 ]; do "
                                    "sleep 0.05; n=$((n+1)); done\n")
                   : QString());
}

// Someone waits for the flock of this file (a "->" line of /proc/locks names its inode).
bool someoneWaitsFor(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    const QRegularExpression waiter(QStringLiteral("-> FLOCK .*:%1 ").arg(quint64(status.st_ino)));
    return waiter.match(readAll(QStringLiteral("/proc/locks"))).hasMatch();
}

} // namespace

class TestAgentFleet : public QObject
{
    Q_OBJECT

private slots:
    void requiredWorkReachesTheFleet_data();
    void requiredWorkReachesTheFleet();
    void pilotFailureHaltsItForTheOthers();
    void storeAndAgentTakeTurns_data();
    void storeAndAgentTakeTurns();
};

void TestAgentFleet::requiredWorkReachesTheFleet_data()
{
    QTest::addColumn<bool>("killed"); // past its deadline and killed in yum; else in its window
    QTest::newRow("in its window") << false;
    QTest::newRow("past its deadline, the agent killed in it") << true;
}

// Required work reaches a desktop with no store running, the user told before and after:
// in the desktop's window (one around now: its slot is within three minutes), or at the next start
// of an agent killed in the middle of it, which reports it once.
void TestAgentFleet::requiredWorkReachesTheFleet()
{
    QFETCH(bool, killed);
    TestRepository &repository = TestRepository::shared();
    QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
    Sandbox sandbox(&repository);
    QVERIFY2(prepareDesktop(sandbox), qPrintable(sandbox.errorString()));
    useLoopbackTransport();
    ToolBox tools(sandbox);
    tools.addGraphicalSession();
    QVERIFY(sandbox.install(TestRepository::standardPackage("cv-editor", "2.0")));
    // An upgrade, an install and a removal, the versions those the group is served.
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray when =
        killed ? "by 2020-01-01 " + DueNow
               : "by " + now.addDays(1).toString("yyyy-MM-dd").toUtf8() + " window " +
                     now.time().addSecs(-60).toString("HH:mm").toUtf8() + '-' +
                     now.time().addSecs(180).toString("HH:mm").toUtf8() + " notice 1h\n";
    Fleet fleet;
    QVERIFY(fleet.start(repository, "require cv-hello " + when + "require cv-player " + when +
                                        "remove cv-editor " + when));
    QVERIFY(fleet.join(sandbox, "127.0.0.1"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fleet.planOf("127.0.0.1")), 30000);

    QProcess service;
    prepareAgent(service, sandbox, "127.0.0.1");
    if (killed) {
        // Killed while yum works (as at a power cut); the yum it ran goes with it.
        tools.add("yum",
                  "case \" $* \" in *' upgrade '*) echo $$ > \"$EVENTS.yum\"; exec sleep 300;;"
                  " esac; exec \"$SHIM\" \"$@\"");
        service.start(QStringLiteral(CORVANE_AGENT), QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(!readAll(tools.eventsFile() + ".yum").isEmpty(), Long);
        service.kill();
        QVERIFY(service.waitForFinished());
        QProcess::execute("kill", {"-9", readAll(tools.eventsFile() + ".yum").trimmed()});
        QVERIFY(sandbox.isInstalled("cv-hello-1.0-1"));
        tools.add("yum", "exec \"$SHIM\" \"$@\"");
        QVERIFY(runAgentOnce(sandbox, "127.0.0.1"));
    } else {
        service.start(QStringLiteral(CORVANE_AGENT), QStringList());
    }
    // The results, as the store's would be, in the fleet database: each once.
    const QStringList done{"127.0.0.1 install cv-player-3.2-4 0",
                           "127.0.0.1 remove cv-editor-2.0-1 0",
                           "127.0.0.1 upgrade cv-hello-1.1-1 0"};
    const auto sorted = [](QStringList rows) {
        rows.sort();
        return rows;
    };
    QTRY_COMPARE_WITH_TIMEOUT(sorted(results(fleet.database())), done, Long);
    QVERIFY(sandbox.isInstalled("cv-hello-1.1-1") && sandbox.isInstalled("cv-player-3.2-4"));
    QVERIFY(sandbox.installedPackages().filter("cv-editor").isEmpty());
    if (!killed) {
        // The service stops when told to, whatever it waits for.
        service.terminate();
        QVERIFY(service.waitForFinished(Long));
        QCOMPARE(service.exitCode(), 0);
    }
    const QStringList told = sandbox.notifications();
    const int before = told.indexOf(QRegularExpression(QStringLiteral(".*软件维护通知.*")));
    const int after = told.indexOf(QRegularExpression(QStringLiteral(".*软件维护结束.*")));
    QVERIFY2(before >= 0 && after > before, qPrintable(told.join('\n')));
}

// One requirement for every group; the pilot's upgrade fails in its %pre scriptlet, which halts
// the rollout: no plan names the version any more and the other desktop never runs it.
void TestAgentFleet::pilotFailureHaltsItForTheOthers()
{
    const TestPackage old = TestRepository::standardPackage("cv-hello", "1.0");
    TestPackage refused = TestRepository::standardPackage("cv-hello", "1.1");
    refused.preScript = QStringLiteral("error(\"pilot upgrade refused\")");
    TestRepository repository({old});
    QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
    // An application of the catalog: a new version of it starts a rollout.
    QString error;
    QVERIFY2(AppStreamFile({{"cv-hello", "Hello", {}, "Hello", {"Office"}, "picture"}})
                 .addTo(repository.directory(), &error),
             qPrintable(error));
    useLoopbackTransport();
    const QString pilot = QStringLiteral("127.0.0.9");
    const QString other = QStringLiteral("127.0.0.1");
    // Two desktops, each with its own root; their agents trust the catalog key.
    Sandbox otherDesk(&repository);
    QVERIFY2(prepareDesktop(otherDesk), qPrintable(otherDesk.errorString()));
    Sandbox pilotDesk(&repository);
    QVERIFY2(prepareDesktop(pilotDesk), qPrintable(pilotDesk.errorString()));
    Fleet fleet;
    QVERIFY(fleet.start(
        repository, "require cv-hello by 2020-01-01 " + DueNow,
        {"--desktop-group", "pilot " + pilot, "--rollout-pilot", "pilot", "--halt-failures", "1"}));
    QVERIFY(fleet.join(otherDesk, other) && fleet.join(pilotDesk, pilot));

    const int lines = fleet.server.output().size();
    QVERIFY(repository.add({refused}));
    QVERIFY(
        !fleet.server.waitForLine(QRegularExpression("rollout of cv-hello 1.1-1 started"), lines)
             .isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(readAll(fleet.planOf(pilot)).contains(Held), 20000);
    QVERIFY(!readAll(fleet.planOf(other)).contains(Held));

    QVERIFY(runAgentOnce(pilotDesk, pilot));
    QVERIFY(pilotDesk.isInstalled("cv-hello-1.0-1"));
    QVERIFY(!fleet.server
                 .waitForLine(QRegularExpression("rollout of cv-hello 1.1-1 halted"), lines, 60000)
                 .isEmpty());
    const QStringList failed = results(fleet.database());
    QCOMPARE(failed.size(), 1);
    QVERIFY2(failed[0].startsWith(pilot + " upgrade cv-hello-1.1-1 ") && !failed[0].endsWith(" 0"),
             qPrintable(failed[0]));
    // Withdrawn from every plan, the pilot's own too.
    QTRY_VERIFY_WITH_TIMEOUT(!readAll(fleet.planOf(pilot)).contains(Held), 60000);
    QVERIFY(!readAll(fleet.planOf(other)).contains(Held));

    QVERIFY(runAgentOnce(otherDesk, other));
    QVERIFY(otherDesk.isInstalled("cv-hello-1.0-1"));
    QVERIFY(runAgentOnce(pilotDesk, pilot));
    QCOMPARE(results(fleet.database()), failed);
}

void TestAgentFleet::storeAndAgentTakeTurns_data()
{
    QTest::addColumn<bool>("agentFirst");
    QTest::newRow("the agent's yum first, the store's rpm waits") << true;
    QTest::newRow("the store's rpm first, the agent's yum waits") << false;
}

// The store installs while the agent upgrades: whichever holds the rpm lock first, the other's
// change of the RPM database starts only after it ended, and every database is sound after.
void TestAgentFleet::storeAndAgentTakeTurns()
{
    QFETCH(bool, agentFirst);
    TestRepository &repository = TestRepository::shared();
    QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
    Sandbox sandbox(&repository);
    QVERIFY2(prepareDesktop(sandbox), qPrintable(sandbox.errorString()));
    useLoopbackTransport();
    ToolBox tools(sandbox);
    tools.add("rpm", gatedTool("store", "*' -Uvh '*", !agentFirst));
    tools.add("yum", gatedTool("agent", "*' upgrade '*", agentFirst));
    // Whatever fails below, the gate opens, so that both can end.
    const auto openGate =
        qScopeGuard([&] { QFile(tools.eventsFile() + ".open").open(QIODevice::WriteOnly); });

    // The plan, signed as the server would; its file area on loopback HTTP.
    QTemporaryDir files;
    PlanFrame plan;
    plan.desktop = QStringLiteral("127.0.0.1");
    plan.issued = QDateTime::currentSecsSinceEpoch();
    PlanFrame::Item item;
    item.package = QStringLiteral("cv-hello");
    item.versionRelease = QStringLiteral("1.1-1");
    item.deadline = plan.issued - 60;
    PlanFrame::parseWindow("00:00-23:59", &item.windowStart, &item.windowEnd);
    plan.items << item;
    QVERIFY(QDir().mkpath(files.filePath(".cv_data/plans")));
    QFile planFile(files.filePath(".cv_data/plans/127.0.0.1"));
    QVERIFY(planFile.open(QIODevice::WriteOnly));
    planFile.write(TestKey::catalog().seal(plan.compose().toUtf8()));
    planFile.close();
    HttpServer http(files.path());
    QVERIFY(http.isRunning());
    sandbox.setConfig("iconurl", http.url().chopped(1));

    QProcess agent;
    prepareAgent(agent, sandbox, "127.0.0.1");
    ResultRecorder recorder;
    // The store's one-click install: its download, then its rpm phase.
    WorkerPtr install = watched<QuitInstallThread>(recorder);
    install->insertQueue(OperInfo{"一键安装", "1", "cv-player-3.2-4", "cv-player"});
    const QString first = agentFirst ? "agent-start" : "store-start";
    if (agentFirst)
        agent.start(QStringLiteral(CORVANE_AGENT), {"--once"});
    else
        install->start();
    QTRY_VERIFY_WITH_TIMEOUT(tools.events().contains(first), Long);
    if (agentFirst)
        install->start();
    else
        agent.start(QStringLiteral(CORVANE_AGENT), {"--once"});
    // The other waits for the lock, or (were it not taken) has started its own change.
    QTRY_VERIFY_WITH_TIMEOUT(someoneWaitsFor(Paths::rpmLockFile()) || tools.events().size() > 1,
                             Long);
    QCOMPARE(tools.events(), QStringList{first});
    QVERIFY(QFile(tools.eventsFile() + ".open").open(QIODevice::WriteOnly));
    QVERIFY(agent.waitForFinished(Long));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 1, Long);

    // Each start is followed by its own end (the store may run rpm more than once).
    const QStringList events = tools.events();
    QVERIFY(!events.isEmpty() && events.size() % 2 == 0);
    QCOMPARE(events.first(), first);
    QVERIFY2(events.contains("agent-start") && events.contains("store-start"),
             qPrintable(events.join(' ')));
    for (int i = 0; i < events.size(); i += 2)
        QVERIFY2(events[i].endsWith("-start") &&
                     events[i + 1] == events[i].section('-', 0, 0) + "-end",
                 qPrintable(events.join(' ')));
    QVERIFY(sandbox.isInstalled("cv-hello-1.1-1"));
    QVERIFY(sandbox.isInstalled("cv-player-3.2-4"));
    // The agent's yum names nothing the store's cancel and progress lookups search for.
    for (const QStringList &call : tools.calls("yum"))
        if (call.contains("upgrade"))
            QVERIFY2(!call.join(' ').contains("--download") &&
                         call.contains("--setopt=cachedir=" + Paths::agentDownloadDirectory()),
                     qPrintable(call.join(' ')));
    for (const QString &database :
         {Paths::rpmDatabaseDirectory() + "/rpmdb.sqlite", Paths::localDatabase(),
          Paths::catalogDatabase(), Paths::agentDatabase()})
        QCOMPARE(column(database, "PRAGMA integrity_check"), QStringList{"ok"});
}

QTEST_GUILESS_MAIN(TestAgentFleet)
#include "tst_agentfleet.moc"
