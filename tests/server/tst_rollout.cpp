#include "records/operationword.h"
#include "server/fleet/fleetingest.h"
#include "server/fleet/fleetpage.h"
#include "server/plans/requiredreport.h"
#include "server/repository/catalogoverrides.h"
#include "server/rollout/rolloutbook.h"
#include "server/serving/repositoryfollower.h"
#include "sync/reportframe.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/accountaccess.h"
#include "tests/support/freeport.h"
#include "tests/support/sandbox.h"
#include "tests/support/sqlrows.h"
#include "tests/support/testrepository.h"
#include "tools/demo-catalog/appstreamfile.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace
{

const QString Package = QStringLiteral("cv-hello");
const int Long = 60000;

// Pilot desktops speak from 10.1.x.x, or through the account group-10.1; every other one is
// in "default".
QString groupOf(const QString &address, const QString &account)
{
    if (account.startsWith(QLatin1String("group-")))
        return account == QLatin1String("group-10.1") ? QStringLiteral("pilot")
                                                      : QStringLiteral("default");
    return address.startsWith(QLatin1String("10.1.")) ? QStringLiteral("pilot")
                                                      : QStringLiteral("default");
}

// A fleet database with its rollouts and its ingest, on a clock the test moves.
struct Fleet {
    QTemporaryDir dir;
    QString path = dir.path() + QStringLiteral("/fleet.db");
    RolloutPolicy policy;
    std::unique_ptr<FleetIngest> ingest;
    std::unique_ptr<RolloutBook> book;
    QStringList log;
    qint64 now = 1700000000;
    int reports = 0;

    bool open(const QString &halt)
    {
        QString error;
        if (!RolloutPolicy::parse(QStringLiteral("pilot"), QString(), halt, &policy, &error) ||
            !policy.setSecurityDelays(QStringLiteral("critical 2h, important 12h"), &error))
            return false;
        return restart();
    }
    // As the service starts again: new connections to the same file.
    bool restart()
    {
        book.reset();
        ingest.reset();
        FleetIngest::Settings settings;
        settings.database = path;
        ingest = std::make_unique<FleetIngest>(
            settings, [](const QString &, const QStringList &) {}, [](const QString &) {});
        book = std::make_unique<RolloutBook>(
            policy, QStringList{"pilot", "east"}, groupOf,
            [this](bool warning, const QString &line) {
                log << (warning ? QStringLiteral("warning ") : QString()) + line;
            });
        QString error;
        return ingest->start(&error) && book->open(path, &error);
    }
    // A store's report of one operation, stored as the server stores it.
    void report(const QString &desktop, const QString &oper, const QString &version, int code,
                const QString &account)
    {
        ReportFrame::Result result;
        result.id = QStringLiteral("00000000000000a1-%1").arg(++reports);
        result.time = now;
        result.oper = oper;
        result.rpm = Package + QLatin1Char('-') + version;
        result.code = code;
        result.echo = code ? QStringLiteral("scriptlet failed") : QStringLiteral("done");
        ReportFrame frame;
        QString error;
        QVERIFY2(frame.parse(ReportFrame::composeResult(desktop, result), &error),
                 qPrintable(error));
        ingest->submit({desktop, account, now, frame});
        ingest->flush();
    }
    void inventory(const QString &desktop, const QString &version,
                   const QString &account = QString())
    {
        ReportFrame::Inventory inventory;
        inventory.id = QStringLiteral("00000000000000b1-%1").arg(++reports);
        inventory.time = now;
        inventory.sequence = 1;
        inventory.packages = QStringList{Package + QLatin1Char('-') + version};
        ReportFrame frame;
        QString error;
        QVERIFY(frame.parse(ReportFrame::composeInventory(desktop, inventory, 65535), &error));
        ingest->submit({desktop, account, now, frame});
        ingest->flush();
    }
    // One step: "repo V [SEVERITY]" (or "repo -": gone; SEVERITY: of the security advisory
    // the move to V fixes), "fail|ok ADDRESS [VERSION [OPER [ACCOUNT]]]",
    // "seen ADDRESS ACCOUNT" (an inventory from that account), "wait SECONDS",
    // "promote|resume ok|error", "restart"; then the service's look, unless it starts with "~".
    void step(const QString &text)
    {
        const bool look = !text.startsWith(QLatin1Char('~'));
        const QStringList words = text.mid(look ? 0 : 1).split(QLatin1Char(' '));
        const QString verb = words[0];
        if (verb == QLatin1String("repo")) {
            QHash<QString, QString> newest;
            if (words[1] != QLatin1String("-"))
                newest.insert(Package, words[1]);
            newest.insert(QStringLiteral("cv-other"), QStringLiteral("1-1"));
            const QString severity = words.value(2);
            book->observe(newest, now,
                          [severity](const QString &package, const QString &, const QString &) {
                              return package == Package ? severity : QString();
                          });
        } else if (verb == QLatin1String("fail") || verb == QLatin1String("ok")) {
            report(words[1], words.value(3, OperationWord::upgrade()),
                   words.value(2, QStringLiteral("1.1-1")), verb == QLatin1String("ok") ? 0 : -1,
                   words.value(4, QStringLiteral("desk-") + words[1]));
        } else if (verb == QLatin1String("seen")) {
            inventory(words[1], QStringLiteral("1.0-1"), words[2]);
        } else if (verb == QLatin1String("wait")) {
            now += words[1].toLongLong();
        } else if (verb == QLatin1String("restart")) {
            QVERIFY(restart());
        } else {
            const QString answer = book->command(verb, Package, now);
            QVERIFY2(answer.startsWith(words[1] + QLatin1Char(' ')), qPrintable(answer));
        }
        if (look)
            book->poll(now);
    }
    QStringList rollouts() const
    {
        return rowsOf(QFile::encodeName(path), "SELECT version || ' ' || state FROM rollouts"
                                               " ORDER BY started, rowid");
    }
    QStringList holds() const
    {
        QStringList held;
        for (const VersionHold &hold : book->holds())
            held << hold.package + QLatin1Char(' ') + hold.group + QLatin1Char(' ') +
                        hold.versionRelease;
        return held;
    }
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The server's options to follow packages, an application repository.
QStringList followed(const TestRepository &packages)
{
    QString error;
    if (!packages.isValid() ||
        !AppStreamFile({{Package, "Hello", {}, "Hello", {"Office"}, "picture"}})
             .addTo(packages.directory(), &error))
        return {};
    return {"--repository", packages.directory(), "--settle", "100"};
}

const QStringList Started{"repo 1.0-1", "repo 1.1-1"};
const QStringList Held{"cv-hello east 1.0-1", "cv-hello default 1.0-1"};

} // namespace

// The staged rollouts: started by a new version in the repository, released by the stage
// delay or the administrator, halted by the pilot's failures, ended by the repository, and
// kept in the fleet database across restarts.
class TestRollout : public QObject
{
    Q_OBJECT

private slots:
    void stages_data()
    {
        QTest::addColumn<QString>("halt");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("rollouts"); // version and state, oldest first
        QTest::addColumn<QStringList>("holds");
        QTest::addColumn<QString>("said"); // in the log, when set

        const QStringList none;
        for (const char *wrong : {"0", "101%", "x", "-1", "2%%"})
            QTest::newRow(qPrintable(QStringLiteral("halt-failures %1").arg(wrong)))
                << wrong << Started << QStringList{"refused"} << none << QString();
        QTest::newRow("a package new to the repository")
            << "2" << QStringList{"repo 1.1-1"} << none << none << QString();
        QTest::newRow("new version: pilot only") << "2" << Started << QStringList{"1.1-1 pilot"}
                                                 << Held << "pilot get it, east default stay";
        QTest::newRow("promote") << "2" << Started + QStringList{"promote ok"}
                                 << QStringList{"1.1-1 promoted"} << none << QString();
        QTest::newRow("stage delay not over") << "2" << Started + QStringList{"wait 86399"}
                                              << QStringList{"1.1-1 pilot"} << Held << QString();
        QTest::newRow("stage delay over")
            << "2" << Started + QStringList{"wait 86400"} << QStringList{"1.1-1 promoted"} << none
            << "the stage delay has passed";
        QTest::newRow("count: one failure is not two")
            << "2" << Started + QStringList{"fail 10.1.0.1"} << QStringList{"1.1-1 pilot"} << Held
            << QString();
        QTest::newRow("count: halts at two")
            << "2" << Started + QStringList{"fail 10.1.0.1", "ok 10.1.0.3", "fail 10.1.0.2"}
            << QStringList{"1.1-1 halted"} << Held
            << "warning rollout of cv-hello 1.1-1 halted: 2 of 3 pilot desktops failed to install "
               "it "
               "(halt-failures 2)";
        // The look reads what arrived since the last, and after a restart all again.
        QTest::newRow("count: tries in several batches, one look")
            << "2" << Started + QStringList{"~fail 10.1.0.1", "~ok 10.1.0.3", "fail 10.1.0.2"}
            << QStringList{"1.1-1 halted"} << Held << "2 of 3 pilot desktops failed";
        QTest::newRow("count: a failure before the restart")
            << "2" << Started + QStringList{"fail 10.1.0.1", "restart", "fail 10.1.0.2"}
            << QStringList{"1.1-1 halted"} << Held << "2 of 2 pilot desktops failed";
        QTest::newRow("count: installed after the restart")
            << "2"
            << Started + QStringList{"fail 10.1.0.1", "restart", "ok 10.1.0.1", "fail 10.1.0.2"}
            << QStringList{"1.1-1 pilot"} << Held << QString();
        QTest::newRow("share: the last try in a batch, the earlier batch kept")
            << "50%"
            << Started + QStringList{"~fail 10.1.0.1", "~ok 10.1.0.1", "ok 10.1.0.2",
                                     "~fail 10.1.0.2", "fail 10.1.0.3"}
            << QStringList{"1.1-1 halted"} << Held << "2 of 3 pilot desktops failed";
        QTest::newRow("one desktop failing again is one")
            << "2" << Started + QStringList{"fail 10.1.0.1", "fail 10.1.0.1"}
            << QStringList{"1.1-1 pilot"} << Held << QString();
        QTest::newRow("failed, then installed")
            << "2" << Started + QStringList{"fail 10.1.0.1", "ok 10.1.0.1", "fail 10.1.0.2"}
            << QStringList{"1.1-1 pilot"} << Held << QString();
        QTest::newRow("counted under the account that sent it")
            << "1"
            << Started +
                   QStringList{"fail 10.1.0.1 1.1-1 " + OperationWord::upgrade() + " group-10.9",
                               "seen 10.1.0.1 group-10.1"}
            << QStringList{"1.1-1 pilot"} << Held << QString();
        // Waiting for an application to close is no try: neither the failure's end nor one
        // more desktop that tried.
        QTest::newRow("deferrals are no tries")
            << "50%"
            << Started + QStringList{"fail 10.1.0.1", "ok 10.1.0.1 1.1-1 defer",
                                     "ok 10.1.0.2 1.1-1 defer", "ok 10.1.0.3 1.1-1 defer"}
            << QStringList{"1.1-1 halted"} << Held << "1 of 1 pilot desktops failed";
        QTest::newRow("failures outside the pilot")
            << "1" << Started + QStringList{"fail 10.2.0.1", "fail 10.2.0.2"}
            << QStringList{"1.1-1 pilot"} << Held << QString();
        QTest::newRow("failures of the version before")
            << "1" << Started + QStringList{"fail 10.1.0.1 1.0-1"} << QStringList{"1.1-1 pilot"}
            << Held << QString();
        QTest::newRow("an uninstall failing")
            << "1" << Started + QStringList{"fail 10.1.0.1 1.1-1 " + OperationWord::uninstall()}
            << QStringList{"1.1-1 pilot"} << Held << QString();
        QTest::newRow("failures before it started again")
            << "2"
            << Started + QStringList{"fail 10.1.0.1", "repo 1.0-1", "wait 60", "repo 1.1-1",
                                     "fail 10.1.0.2"}
            << QStringList{"1.1-1 pilot"} << Held << QString();
        QTest::newRow("share: a third is not half")
            << "50%" << Started + QStringList{"ok 10.1.0.1", "ok 10.1.0.2", "fail 10.1.0.3"}
            << QStringList{"1.1-1 pilot"} << Held << QString();
        QTest::newRow("share: halts at half")
            << "50%" << Started + QStringList{"ok 10.1.0.1", "fail 10.1.0.3"}
            << QStringList{"1.1-1 halted"} << Held << "1 of 2 pilot desktops failed";
        QTest::newRow("halted stays past the delay")
            << "1" << Started + QStringList{"fail 10.1.0.1", "wait 86400", "promote error"}
            << QStringList{"1.1-1 halted"} << Held << QString();
        QTest::newRow("resume") << "1" << Started + QStringList{"fail 10.1.0.1", "resume ok"}
                                << QStringList{"1.1-1 resumed"} << none << QString();
        QTest::newRow("resume what is not halted")
            << "1" << Started + QStringList{"resume error"} << QStringList{"1.1-1 pilot"} << Held
            << QString();
        QTest::newRow("pulled")
            << "2" << Started + QStringList{"repo 1.0-1"} << QStringList{"1.1-1 pulled"} << none
            << "warning rollout of cv-hello 1.1-1 pulled: 1.1-1 no longer in the repository, "
               "every group back on 1.0-1";
        QTest::newRow("package gone") << "2" << Started + QStringList{"repo -"}
                                      << QStringList{"1.1-1 pulled"} << none << QString();
        QTest::newRow("superseded: the others stay where they were")
            << "2" << Started + QStringList{"repo 1.2-1"}
            << QStringList{"1.1-1 superseded", "1.2-1 pilot"}
            << QStringList{"cv-hello east 1.0-1", "cv-hello default 1.0-1"} << QString();
        QTest::newRow("restart keeps a halt")
            << "1" << Started + QStringList{"fail 10.1.0.1", "restart", "wait 86400"}
            << QStringList{"1.1-1 halted"} << Held << QString();
        QTest::newRow("restart keeps the stage's start")
            << "2" << Started + QStringList{"wait 86000", "restart", "wait 400"}
            << QStringList{"1.1-1 promoted"} << none << QString();
        const QStringList critical{"repo 1.0-1", "repo 1.1-1 critical"};
        QTest::newRow("critical fix: pilot only within its delay")
            << "2" << critical + QStringList{"wait 7199"} << QStringList{"1.1-1 pilot"} << Held
            << "(fixes a critical security advisory: stage delay 7200 s)";
        QTest::newRow("critical fix: promoted after its delay")
            << "2" << critical + QStringList{"wait 3600", "restart", "wait 3600"}
            << QStringList{"1.1-1 promoted"} << none << "the stage delay has passed";
        QTest::newRow("critical fix: the pilot's failures still halt it")
            << "2" << critical + QStringList{"fail 10.1.0.1", "fail 10.1.0.2", "wait 7200"}
            << QStringList{"1.1-1 halted"} << Held << "2 of 2 pilot desktops failed";
        QTest::newRow("moderate fix: no delay of its own, none graver applies")
            << "2" << QStringList{"repo 1.0-1", "repo 1.1-1 moderate", "wait 43200"}
            << QStringList{"1.1-1 pilot"} << Held << QString();
        QTest::newRow("important fix: its own delay")
            << "2" << QStringList{"repo 1.0-1", "repo 1.1-1 important", "wait 43200"}
            << QStringList{"1.1-1 promoted"} << none << QString();
        QTest::newRow("restart does not start it again")
            << "2" << Started + QStringList{"promote ok", "restart", "repo 1.1-1"}
            << QStringList{"1.1-1 promoted"} << none << QString();
    }

    void stages()
    {

        QFETCH(QString, halt);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, rollouts);
        QFETCH(QStringList, holds);
        QFETCH(QString, said);
        Fleet fleet;
        // A wrong threshold is refused: no rollout runs on a value misread.
        QCOMPARE(fleet.open(halt), rollouts != QStringList{"refused"});
        if (!rollouts.isEmpty() && rollouts.first() == QLatin1String("refused"))
            return;
        for (const QString &step : steps) {
            fleet.step(step);
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(fleet.rollouts(), rollouts);
        QCOMPARE(fleet.holds(), holds);
        if (!said.isEmpty())
            QVERIFY2(fleet.log.filter(said).size() == 1, qPrintable(fleet.log.join('\n')));
    }

    void reportRollout_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("lines"); // lines of the output
        QTest::newRow("text") << "text"
                              << QStringList{"cv-hello  1.1-1    1.0-1     halted  2023-11-14 "
                                             "22:13:20  2023-11-14 22:13:20  2 of 2 pilot "
                                             "desktops failed to install it (halt-failures 2); "
                                             "the others stay on 1.0-1  24h",
                                             "cv-hello  1.1-1    pilot    1.1-1",
                                             "cv-hello  1.1-1    east     1.0-1",
                                             "10.1.0.1  cv-hello  1.1-1    halted"};
        QTest::newRow("csv") << "csv"
                             << QStringList{"served per group,cv-hello,1.1-1,default,1.0-1",
                                            "desktops on a version others are held from,"
                                            "10.1.0.1,cv-hello,1.1-1,halted"};
        QTest::newRow("json") << "json"
                              << QStringList{"            \"serves\": \"1.0-1\",",
                                             "            \"state\": \"halted\","};
        QTest::newRow("status page")
            << "page"
            << QStringList{"<p class='figures'><span class='figure'>halted: <b "
                           "id='rollouts-halted'>1</b></span></p>",
                           "<tr><td>10.1.0.1</td><td>cv-hello</td><td>1.1-1</td><td>halted</td>"
                           "</tr>"};
        // Each group's own version: the others are held to 1.0-1, which 10.2.0.1 has.
        QTest::newRow("status page: required work")
            << "page"
            << QStringList{"<h2>required work</h2>",
                           "<tr><td>cv-hello</td><td>require</td><td>1.0-1</td><td>default</td>"
                           "<td>1</td><td>0</td><td>1</td><td>0</td></tr>",
                           "<tr><td>cv-hello</td><td>require</td><td>1.1-1</td><td>pilot</td>"
                           "<td>1</td><td>0</td><td>0</td><td>1</td></tr>"};
        // The same from the sub-command, which reads the repository and the holds itself.
        QTest::newRow("report required")
            << "required"
            << QStringList{"table,package,action,version,group,done,pending,deferred,failed",
                           "Required,cv-hello,require,1.0-1,default,1,0,1,0",
                           "Required,cv-hello,require,1.1-1,pilot,1,0,0,1"};
    }

    // What each group is served and who has the halted version, read from another process.
    void reportRollout()
    {
        QFETCH(QString, format);
        QFETCH(QStringList, lines);
        Fleet fleet;
        QVERIFY(fleet.open("2"));
        for (const QString &step : Started + QStringList{"fail 10.1.0.1", "fail 10.1.0.2"})
            fleet.step(step);
        fleet.inventory("10.1.0.1", "1.1-1");
        fleet.inventory("10.2.0.1", "1.0-1");
        // Waiting for an application to close, at the version its group is held to.
        fleet.report("10.2.0.2", OperationWord::deferralKey(), "1.0-1", 0, "desk-10.2.0.2");
        const QString require = "require cv-hello by 2026-12-11 window 12:00-14:00\n";
        if (format == QLatin1String("page")) {
            FleetDatabase db;
            QString error;
            QVERIFY2(db.open(fleet.path, true, &error), qPrintable(error));
            // The required work as the service makes it: the version each group is served.
            DesktopGroups groups;
            QVERIFY(groups.add("pilot 10.1.0.0/16", &error));
            CatalogOverrides statements;
            QVERIFY(statements.parse(require, "o.conf", &error));
            const VersionHolds holds = fleet.book->holds();
            const PlanWriter::Served served = [&](const QString &group, const QString &package) {
                return RepositoryFollower::servedOf({}, {{Package, {"1.1-1", "1.0-1"}}},
                                                    {statements.pins(), holds}, group, package);
            };
            const QStringList page =
                FleetPage::html(db.handle(), fleet.now, groupOf, [&](sqlite3 *handle) {
                    return RequiredReport(handle, groups, served).table(statements.requirements());
                }).split('\n');
            for (const QString &line : lines)
                QVERIFY2(page.contains(line), qPrintable(line));
            return;
        }
        QStringList arguments{"report", "rollout", "--fleet-db", fleet.path, "--format", format};
        std::unique_ptr<TestRepository> packages; // the service's repository, for its versions
        if (format == QLatin1String("required")) {
            packages = std::make_unique<TestRepository>(
                QVector<TestPackage>{{Package, "1.0", "1"}, {Package, "1.1", "1"}});
            QFile overrides(fleet.dir.filePath("overrides.conf"));
            QVERIFY(overrides.open(QIODevice::WriteOnly) && overrides.write(require.toUtf8()) > 0);
            overrides.close();
            arguments = followed(*packages) + QStringList{"report",          "required",
                                                          "--fleet-db",      fleet.path,
                                                          "--overrides",     overrides.fileName(),
                                                          "--desktop-group", "pilot 10.1.0.0/16",
                                                          "--format",        "csv"};
        }
        QProcess report;
        report.start(CORVANE_CATALOG_SERVER, arguments);
        QVERIFY(report.waitForFinished(Long));
        QCOMPARE(report.exitCode(), 0);
        const QStringList output = QString::fromUtf8(report.readAllStandardOutput()).split('\n');
        for (const QString &line : lines)
            QVERIFY2(output.contains(line),
                     qPrintable(line + "\n--- not in:\n" + output.join('\n')));
    }

    void commandsReachTheService_data()
    {
        QTest::addColumn<QString>("how"); // "sub-command", "line" (the console), "nobody"
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("answer"); // its start
        QTest::addColumn<QString>("state");  // of the rollout afterwards
        // Started by the service following a repository, else by another connection.
        QTest::addColumn<bool>("repository");
        QTest::newRow("sub-command") << "sub-command" << Package << "ok promote cv-hello 1.1-1"
                                     << "1.1-1 promoted" << false;
        QTest::newRow("command line, the repository's rollout")
            << "line" << Package << "ok promote cv-hello 1.1-1"
            << "1.1-1 promoted" << true;
        QTest::newRow("another account")
            << "nobody" << Package
            << "error promote: only the service's account may change rollouts"
            << "1.1-1 pilot" << false;
        QTest::newRow("no such rollout") << "sub-command"
                                         << "cv-other"
                                         << "error promote cv-other: no rollout of it under way"
                                         << "1.1-1 pilot" << false;
    }

    // promote reaches the running service, which notices the database change by itself.
    void commandsReachTheService()
    {
        QFETCH(QString, how);
        QFETCH(QString, package);
        QFETCH(QString, answer);
        QFETCH(QString, state);
        QFETCH(bool, repository);
        const QString server = QStringLiteral(CORVANE_CATALOG_SERVER);
        if (how == QLatin1String("nobody") && !AccountAccess::whyUnreachable(server).isEmpty())
            QSKIP(qPrintable(AccountAccess::whyUnreachable(server)));
        Sandbox sandbox;
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        useLoopbackTransport();
        Fleet fleet;
        fleet.now = QDateTime::currentSecsSinceEpoch();
        QVERIFY(fleet.open("2"));
        QFile::setPermissions(fleet.dir.path(), QFile::permissions(fleet.dir.path()) |
                                                    QFile::ReadOther | QFile::ExeOther);
        QStringList options{"--fleet-db", fleet.path,        "--rollout-pilot",
                            "pilot",      "--desktop-group", "pilot 10.1.0.0/16"};
        TestRepository packages({TestPackage{Package, "1.0", "1"}});
        if (repository) {
            // The service's configuration, as an administrator spells it.
            const QString config = fleet.dir.filePath("server.conf");
            QFile file(config);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("fleet_db = " + fleet.path.toUtf8() +
                       "\nrollout_pilot = pilot, it-staff\nstage_delay = 2d\nhalt_failures = 3\n"
                       "desktop_group = pilot 10.1.0.0/16\ndesktop_group = it-staff 10.2.0.0/16\n");
            file.close();
            options = QStringList{"--server-config", config} + followed(packages);
            QVERIFY(options.contains("--repository"));
        }
        CatalogServerProcess service;
        QVERIFY(service.start(options));
        if (repository)
            QVERIFY2(packages.add({TestPackage{Package, "1.1", "1"}}),
                     qPrintable(packages.errorString()));
        else
            for (const QString &step : Started)
                fleet.step(step);
        QVERIFY(!service.waitForLine(QRegularExpression("rollout holds now: cv-hello 1.0-1 for "))
                     .isEmpty());
        if (repository)
            QCOMPARE(service.output().filter("pilot it-staff get it, default stay on 1.0-1").size(),
                     1);
        const int before = service.output().size();
        QString answered;
        if (how == QLatin1String("line")) {
            answered = service.command("promote " + package);
        } else {
            QProcess command;
            const QStringList arguments{"promote", package, "--fleet-db", fleet.path};
            if (how == QLatin1String("nobody"))
                command.start("setpriv", QStringList{"--reuid=65534", "--regid=65534",
                                                     "--clear-groups", server} +
                                             arguments);
            else
                command.start(server, arguments);
            QVERIFY(command.waitForFinished(Long));
            answered = QString::fromUtf8(command.readAllStandardOutput()).trimmed();
            QCOMPARE(command.exitCode(), answered.startsWith("ok ") ? 0 : 1);
        }
        QVERIFY2(answered.startsWith(answer), qPrintable(answered));
        if (answered.startsWith("ok "))
            QVERIFY(!service.waitForLine(QRegularExpression("rollout holds now: none"), before)
                         .isEmpty());
        QCOMPARE(fleet.rollouts(), QStringList{state});
    }

    void pilotFailuresHaltTheService_data()
    {
        QTest::addColumn<QString>("halt");
        QTest::newRow("a count") << "1";
        QTest::newRow("a share") << "50%";
    }

    // A store's failure report over TCP halts the service's own rollout, and the status page
    // says so without another report, its required work from the service's own follower.
    void pilotFailuresHaltTheService()
    {
        QFETCH(QString, halt);
        Sandbox sandbox;
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        useLoopbackTransport();
        QTemporaryDir state;
        const QString pages = state.path() + "/pages";
        TestRepository packages({TestPackage{Package, "1.0", "1"}});
        const QStringList repository = followed(packages);
        QVERIFY(!repository.isEmpty());
        QFile overrides(state.filePath("overrides.conf"));
        QVERIFY(overrides.open(QIODevice::WriteOnly) &&
                overrides.write("require cv-hello by 2026-12-11 window 12:00-14:00\n") > 0);
        overrides.close();
        CatalogServerProcess service;
        QVERIFY(
            service.start(repository + QStringList{"--fleet-db", state.path() + "/fleet.db",
                                                   "--rollout-pilot", "default", "--halt-failures",
                                                   halt, "--report-dir", pages, "--report-interval",
                                                   "0", "--overrides", overrides.fileName()}));
        QVERIFY(packages.add({TestPackage{Package, "1.1", "1"}}));
        QVERIFY(!service.waitForLine(QRegularExpression("rollout of cv-hello 1.1-1 started"))
                     .isEmpty());
        QVERIFY(CatalogServerProcess::sendFrom(
            "127.0.0.1",
            {"<frame action='report_result'><datas client='127.0.0.1' architecture='x86_64'>"
             "<report id='00000000000000a1-1' time='1700000000' oper='升级' rpm='cv-hello-1.1-1'"
             " code='-2' echo='scriptlet failed'/></datas></frame>"}));
        QVERIFY(!service
                     .waitForLine(QRegularExpression("rollout of cv-hello 1.1-1 halted: 1 of 1 "
                                                     "pilot desktops failed"))
                     .isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(
            readAll(pages + "/fleet.html").contains("<b id='rollouts-halted'>1</b>"), Long);
        // The required work at the version the pilot is served, its failure counted.
        QTRY_VERIFY_WITH_TIMEOUT(readAll(pages + "/fleet.html")
                                     .contains("<tr><td>cv-hello</td><td>require</td><td>1.1-1"
                                               "</td><td>default</td><td>0</td><td>0</td><td>0"
                                               "</td><td>1</td></tr>"),
                                 Long);
    }
};

QTEST_GUILESS_MAIN(TestRollout)
#include "tst_rollout.moc"
