#include "catalogfixture.h"
#include "catalogserverprocess.h"
#include "framereceiver.h"
#include "records/operationword.h"
#include "records/paths.h"
#include "sync/catalogframe.h"
#include "sync/catalogrequest.h"
#include "sync/reportframe.h"
#include "sync/reportoutbox.h"
#include "sync/reportsender.h"
#include "tests/support/databaselock.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"
#include "vqs.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace CatalogFixture;

namespace
{

const int Long = 60000;

bool setUp(Sandbox &sandbox)
{
    return sandbox.isValid() && TestKey::catalog().trust() &&
           insertRow({{"s_name", "cv-hello"}, {"s_rpm", "cv-hello-1.0-1"}, {"sign", "2"}}) &&
           exec(Paths::localDatabase(),
                "insert into software(name,version,release_ver) values('cv-hello','1.0','1'),"
                "('not-in-catalog','9','9')");
}

QString result(const QString &id, const QString &rpm = "cv-hello-1.0-1",
               const QString &extra = QString())
{
    return QStringLiteral("<frame action='report_result'><datas client='127.0.0.1' "
                          "architecture='x86_64'><report id='%1' time='1700000000' oper='安装' "
                          "rpm='%2' code='0' echo='done'%3/></datas></frame>")
        .arg(id, rpm, extra);
}

QString inventory(const QString &client, const QString &id, const QStringList &packages,
                  int sequence)
{
    QString text = QStringLiteral("<frame action='report_inventory'><datas client='%1' "
                                  "architecture='x86_64'><report id='%2' time='1700000000' "
                                  "sequence='%3'>")
                       .arg(client, id)
                       .arg(sequence);
    for (const QString &package : packages)
        text += "<package rpm='" + package + "'/>";
    return text + "</report></datas></frame>";
}

// Two desktops, as their stores report over direct TCP; true once the server has stored all.
bool fillFleet(const QString &database)
{
    const QStringList texts{
        inventory("127.0.0.1", "00000000000000a1-1", {"cv-editor-2.0-1", "cv-hello-1.0-1"}, 7),
        inventory("127.0.0.3", "00000000000000a3-1", {"cv-hello-1.1-1"}, 5),
        QString(result("00000000000000a3-2", "cv-hello-1.1-1"))
            .replace("127.0.0.1", "127.0.0.3")
            .replace("code='0' echo='done'",
                     "code='-2' echo='=HYPERLINK(\"http://x\",1) scriptlet &lt;failed&gt;'"),
    };
    // Each from its own desktop's address: the server keeps a report as its connection's.
    for (const QString &text : texts)
        if (!CatalogServerProcess::sendFrom(
                text.contains("'127.0.0.3'") ? "127.0.0.3" : "127.0.0.1", {text}))
            return false;
    return QTest::qWaitFor(
        [&] {
            return query(database, "select * from results").size() == 1 &&
                   query(database, "select * from installed").size() == 3;
        },
        Long);
}

QStringList column(const QString &database, const QString &sql)
{
    QStringList cells;
    for (const Row &row : query(database, sql))
        cells << row.first();
    return cells;
}

} // namespace

// The store's reports to its catalog server: they wait in the outbox until the server has
// stored them, arrive once and in order; the server takes only well-formed reports, at a
// bounded rate per desktop.
class TestSyncReports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        useLoopbackTransport();
    }

    void reportsArriveOnceInOrder_data()
    {
        QTest::addColumn<bool>("serverAway");
        QTest::addColumn<bool>("storeRestarts");
        QTest::newRow("server up") << false << false;
        QTest::newRow("server away, then back") << true << false;
        QTest::newRow("store restarted with reports waiting") << true << true;
    }

    void reportsArriveOnceInOrder()
    {
        QFETCH(bool, serverAway);
        QFETCH(bool, storeRestarts);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        ReportOutbox outbox;
        QVERIFY(outbox.recordInventory());
        // Tails of root's command output: nobody else reads them.
        QCOMPARE(QFile::permissions(Paths::reportOutbox()) &
                     (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteOther),
                 QFileDevice::Permissions());
        const QStringList rpms{"cv-hello-1.0-1", "cv-editor-2.1-1", "cv-player-3.2-4"};
        QVERIFY(outbox.recordResult("安装", rpms[0], 0, "Installed: cv-hello"));
        QVERIFY(outbox.recordResult("升级", rpms[1], -2, "error: %prein scriptlet failed"));
        QVERIFY(outbox.recordResult("卸载", rpms[2], -1, "卸载失败 <'&\">"));
        // The agent's deferral, told again the next day before it went: sent once.
        QVERIFY(outbox.recordResult(OperationWord::deferral(), rpms[1], 0, "in use: yesterday"));
        QVERIFY(outbox.recordResult(OperationWord::deferral(), rpms[1], 0, "in use: cv-editor"));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        QTemporaryDir state;
        const QString fleet = state.path() + "/fleet.db";

        CatalogServerProcess server;
        if (!serverAway)
            QVERIFY(server.start({"--fleet-db", fleet}));
        std::unique_ptr<ReportSender> sender;
        for (int run = 0; run < (storeRestarts ? 2 : 1); ++run) {
            sender = std::make_unique<ReportSender>(Paths::reportOutbox(), 300);
            QSignalSpy sent(sender.get(), &ReportSender::sent);
            sender->start();
            QVERIFY(sent.wait(Long));
        }
        if (serverAway) {
            QCOMPARE(outbox.pending(10).size(), 5);
            QVERIFY(server.start({"--fleet-db", fleet}));
        }
        QTRY_VERIFY_WITH_TIMEOUT(outbox.pending(10).isEmpty(), Long);

        QCOMPARE(column(fleet, "select rpm from results order by rowid"), rpms + rpms.mid(1, 1));
        QCOMPARE(column(fleet, "select oper||' '||code||' '||echo from results order by rowid"),
                 QStringList({"install 0 Installed: cv-hello",
                              "upgrade -2 error: %prein scriptlet failed",
                              "remove -1 卸载失败 <'&\">", "defer 0 in use: cv-editor"}));
        QCOMPARE(column(fleet, "select address||' '||name||' '||version from installed"),
                 QStringList{"127.0.0.1 cv-hello 1.0-1"});
        QCOMPARE(column(fleet, "select address from desktops"), QStringList{"127.0.0.1"});
    }

    // The inventory a store sends at its join reads against the catalog it then receives.
    void inventoryFollowsTheCatalog()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid() && TestKey::catalog().trust() &&
                     sandbox.install(TestRepository::standardPackages().first()),
                 qPrintable(sandbox.errorString()));
        sandbox.setConfig("vqssend", "true");
        QTemporaryDir state;
        const QString fleet = state.path() + "/fleet.db";
        QVERIFY(
            writeCatalog(state.path() + "/catalog.xml", {package("cv-hello", "cv-hello-1.0-1")}));
        CatalogServerProcess server;
        QVERIFY(server.start({"--catalog", state.path() + "/catalog.xml", "--fleet-db", fleet}));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        ReportSender sender(Paths::reportOutbox(), 300);
        sender.start();
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(
            column(fleet, "select address||' '||name||' '||version from installed"),
            QStringList{"127.0.0.1 cv-hello 1.0-1"}, Long);
    }

    // An acknowledgement empties the outbox only when the store's gate admitted it: a local
    // account writing to the store's port cannot make it forget reports.
    void inventoryIsNotReadFromABusyTable_data()
    {
        QTest::addColumn<bool>("catalog"); // the catalog's file locked, or the installed packages'
        QTest::newRow("the installed packages being rewritten") << false;
        QTest::newRow("the catalog being rewritten") << true;
    }

    // A table that stays locked past the wait is not taken for an empty one: no inventory
    // saying that nothing is installed; once it is free, the inventory holds the packages.
    void inventoryIsNotReadFromABusyTable()
    {
        QFETCH(bool, catalog);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        ReportOutbox outbox;
        auto lock = std::make_unique<DatabaseLock>(catalog ? Paths::catalogDatabase()
                                                           : Paths::localDatabase(),
                                                   DatabaseLock::Hold::AllReaders);
        QVERIFY(lock->isLocked());
        QVERIFY(!outbox.recordInventory());
        lock.reset();
        QVERIFY(outbox.recordInventory());
        QCOMPARE(ReportOutbox::installedCatalogPackages(),
                 std::optional<QStringList>(QStringList{"cv-hello-1.0-1"}));
    }

    void forgedAckEmptiesNothing()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        ReportOutbox outbox;
        QVERIFY(outbox.recordResult("安装", "cv-hello-1.0-1", 0, QString()));
        const QString id = outbox.pending(1).value(0).id;
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        const QString ack = ReportFrame::composeAck("127.0.0.1", {id});
        QCOMPARE(vqs_message_send("127.0.0.1", qPrintable(ack)), 0);
        QVERIFY(receiver.drain("after-ack"));
        QCOMPARE(outbox.pending(10).size(), 1);
        QCOMPARE(receiver.recorder.dropped.filter("report_ack").size(), 1);
    }

    void hostileReportsAreDropped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stored");
        const QString id = "0123456789abcdef-7";
        QTest::newRow("well-formed") << result(id) << 1;
        QTest::newRow("sent again") << result(id) + '\n' + result(id) << 1;
        QTest::newRow("id of upper-case hex") << result("0123456789ABCDEF-7") << 0;
        QTest::newRow("id without counter") << result("0123456789abcdef-") << 0;
        QTest::newRow("id too long") << result(id + "1234567890123456789") << 0;
        QTest::newRow("rpm with shell text") << result(id, "cv-$(id)-1") << 0;
        QTest::newRow("rpm as a path") << result(id, "../cv-1-1") << 0;
        QTest::newRow("rpm too long") << result(id, QString(300, 'a') + "-1-1") << 0;
        QTest::newRow("rpm without release") << result(id, "cv-hello") << 0;
        QTest::newRow("unknown attribute") << result(id, "cv-hello-1.0-1", " x='1'") << 0;
        QTest::newRow("text with a control character")
            << QString(result(id)).replace("echo='done'", "echo='a&#27;[2Jb'") << 0;
        QTest::newRow("text too long")
            << QString(result(id)).replace("echo='done'", "echo='" + QString(1025, 'x') + "'") << 0;
        QTest::newRow("text at its bound")
            << QString(result(id)).replace("echo='done'", "echo='" + QString(1024, 'x') + "'") << 1;
        QTest::newRow("unknown operation")
            << QString(result(id)).replace("oper='安装'", "oper='rm'") << 0;
        QTest::newRow("the operation's key")
            << QString(result(id)).replace("oper='安装'", "oper='upgrade'") << 1;
        QTest::newRow("a deferral")
            << QString(result(id)).replace("oper='安装'", "oper='defer'") << 1;
        QTest::newRow("a deferral claiming a failure")
            << QString(result(id))
                   .replace("oper='安装'", "oper='defer'")
                   .replace("code='0'", "code='-1'")
            << 0;
        QTest::newRow("a deferral by its label")
            << QString(result(id)).replace("oper='安装'", "oper='推迟'") << 0;
        QTest::newRow("opening an application")
            << QString(result(id)).replace("oper='安装'", "oper='open'") << 0;
        QTest::newRow("code out of range")
            << QString(result(id)).replace("code='0'", "code='7'") << 0;
        QTest::newRow("time not a number")
            << QString(result(id)).replace("time='1700000000'", "time='1e9'") << 0;
        QTest::newRow("time in the far future")
            << QString(result(id)).replace("time='1700000000'", "time='99999999999999'") << 0;
        QTest::newRow("two reports in one frame")
            << QString(result(id)).replace("/></datas>", "/><report/></datas>") << 0;
        QTest::newRow("another architecture")
            << QString(result(id)).replace("x86_64", "aarch64") << 0;
        QTest::newRow("inventory with a bad package")
            << "<frame action='report_inventory'><datas client='127.0.0.1' architecture='x86_64'>"
               "<report id='0123456789abcdef-7' time='1' sequence='3'><package rpm='a b-1-1'/>"
               "</report></datas></frame>"
            << 0;
        QTest::newRow("not XML") << "<frame action='report_result'><datas" << 0;
        // Over direct TCP the connection's address is the desktop, whatever the frame names.
        QTest::newRow("naming no desktop, kept as the connection's")
            << QString(result(id)).replace("127.0.0.1", "255.255.255.255") << 1;
    }

    void hostileReportsAreDropped()
    {
        QFETCH(QString, text);
        QFETCH(int, stored);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        QTemporaryDir state;
        const QString fleet = state.path() + "/fleet.db";
        CatalogServerProcess server;
        QVERIFY(server.start({"--fleet-db", fleet}));
        const QStringList texts = text.split('\n');
        for (const QString &one : texts)
            QCOMPARE(vqs_message_send("127.0.0.2", qPrintable(one)), 0);
        // Behind them on the same connection: once it is stored, they have been handled.
        const QString marker = "fedcba9876543210-1";
        QCOMPARE(vqs_message_send("127.0.0.2", qPrintable(result(marker))), 0);
        QTRY_VERIFY_WITH_TIMEOUT(column(fleet, "select report from results").contains(marker),
                                 Long);
        QCOMPARE(column(fleet, "select count(*) from results where report<>'" + marker + "'"),
                 QStringList{QString::number(stored)});
        // The server's line may still be on its way through the pipe.
        const QRegularExpression said("^(malformed|refused report)");
        if (!stored)
            QVERIFY(!server.waitForLine(said).isEmpty());
        QCOMPARE(server.output().filter(said).size(), stored ? 0 : texts.size());
    }

    void reportCommandReadsTheDatabase_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines"); // lines of the output
        QTest::newRow("summary")
            << QStringList{"report"}
            << QStringList{"total  seen today  seen this week  not for a week",
                           "2      2           2               0",
                           "127.0.0.3  2023-11-14 22:13:20  安装         cv-hello-1.1-1  -2    "
                           "=HYPERLINK(\"http://x\",1) scriptlet <failed>",
                           "cv-editor  1         2.0-1 1",
                           "cv-hello   2         1.0-1 1, 1.1-1 1",
                           "127.0.0.3  5         7"};
        QTest::newRow("one package, csv")
            << QStringList{"report", "package", "cv-hello", "--format", "csv"}
            << QStringList{"versions of cv-hello,1.0-1,1", "versions of cv-hello,1.1-1,1",
                           "desktops,127.0.0.1,1.0-1", "desktops,127.0.0.3,1.1-1",
                           // What a desktop wrote never reads as a formula.
                           "results,127.0.0.3,2023-11-14 22:13:20,安装,cv-hello-1.1-1,-2,"
                           "\"'=HYPERLINK(\"\"http://x\"\",1) scriptlet <failed>\""};
        QTest::newRow("one desktop, json")
            << QStringList{"report", "desktop", "127.0.0.1", "--format", "json"}
            << QStringList{"            \"package\": \"cv-editor\",",
                           "            \"version\": \"2.0-1\""};
    }

    // The report, read while the service runs.
    void reportCommandReadsTheDatabase()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        QTemporaryDir state;
        const QString fleet = state.path() + "/fleet.db";
        CatalogServerProcess server;
        QVERIFY(server.start({"--fleet-db", fleet}));
        QVERIFY(fillFleet(fleet));
        QProcess report;
        report.start(CORVANE_CATALOG_SERVER, arguments + QStringList{"--fleet-db", fleet});
        QVERIFY(report.waitForFinished(Long));
        QCOMPARE(report.exitCode(), 0);
        const QStringList output = QString::fromUtf8(report.readAllStandardOutput()).split('\n');
        for (const QString &line : lines)
            QVERIFY2(output.contains(line),
                     qPrintable(line + "\n--- not in:\n" + output.join('\n')));
    }

    // The status page, as a browser shows it, says what the database holds.
    void statusPageMatchesTheDatabase()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        QTemporaryDir state;
        const QString fleet = state.path() + "/fleet.db", pages = state.path() + "/pages";
        CatalogServerProcess server;
        QVERIFY(
            server.start({"--fleet-db", fleet, "--report-dir", pages, "--report-interval", "0"}));
        QVERIFY(fillFleet(fleet));
        QTRY_VERIFY_WITH_TIMEOUT(readFile(pages + "/fleet.html").contains("scriptlet"), Long);

        const QString shot = state.path() + "/fleet.png";
        const QStringList browser{"--headless",
                                  "--no-sandbox",
                                  "--disable-gpu",
                                  "--disable-quic",
                                  "--no-first-run",
                                  "--disable-background-networking",
                                  "--disable-component-update",
                                  "--disable-sync",
                                  "--user-data-dir=" + state.path() + "/chromium"};
        QProcess dump;
        dump.start("chromium",
                   browser + QStringList{"--dump-dom", "file://" + pages + "/fleet.html"});
        QVERIFY(dump.waitForFinished(120000));
        const QString dom = QString::fromUtf8(dump.readAllStandardOutput());
        QVERIFY2(dom.contains("<svg"), qPrintable(dom.left(2000)));

        const QRegularExpression figure("<b id=\"desktops-(\\w+)\">(\\d+)</b>");
        QStringList figures;
        for (auto match = figure.globalMatch(dom); match.hasNext();) {
            const auto m = match.next();
            figures << m.captured(1) + ' ' + m.captured(2);
        }
        QCOMPARE(figures, QStringList({"total " + column(fleet, "select count(*) from desktops")[0],
                                       "today 2", "week 2", "silent 0"}));
        const QRegularExpression bar("data-package=\"([^\"]+)\" data-version=\"([^\"]+)\" "
                                     "data-count=\"(\\d+)\"");
        QStringList bars;
        for (auto match = bar.globalMatch(dom); match.hasNext();) {
            const auto m = match.next();
            bars << m.captured(1) + ' ' + m.captured(2) + ' ' + m.captured(3);
        }
        QCOMPARE(bars, column(fleet, "select name||' '||version||' '||count(*) from installed "
                                     "group by name, version order by name, version"));
        QVERIFY(dom.contains("<td>=HYPERLINK(\"http://x\",1) scriptlet &lt;failed&gt;</td>"));

        QProcess picture;
        picture.start("chromium",
                      browser + QStringList{"--screenshot=" + shot, "--window-size=1000,700",
                                            "file://" + pages + "/fleet.html"});
        QVERIFY(picture.waitForFinished(120000));
        QVERIFY(readFile(shot).startsWith("\x89PNG"));
    }

    // One desktop sending without end gets its rate; the service goes on answering.
    void floodIsRateLimited()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        QTemporaryDir state;
        const QString fleet = state.path() + "/fleet.db";
        CatalogServerProcess server;
        QVERIFY(server.start({"--fleet-db", fleet}));
        QElapsedTimer clock;
        clock.start();
        const int flood = 10000;
        for (int i = 1; i <= flood; ++i)
            QCOMPARE(vqs_message_send("127.0.0.2",
                                      qPrintable(result("0123456789abcdef-" + QString::number(i)))),
                     0);
        QCOMPARE(vqs_message_send("127.0.0.2", qPrintable(CatalogFrame::joinRequest("127.0.0.1"))),
                 0);
        QVERIFY(server.waitFor("join_requ from 127.0.0.1", Long));
        QVERIFY(!server.waitForLine(QRegularExpression("^reports from 127.0.0.1 over the rate"))
                     .isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(
            column(fleet, "select count(*) from results").value(0).toInt() >= 200, Long);
        // The burst and two a second since the first.
        const int kept = column(fleet, "select count(*) from results").value(0).toInt();
        QVERIFY2(kept >= 200 && kept <= 200 + 2 * (clock.elapsed() / 1000 + 1),
                 qPrintable(QString::number(kept)));
    }
};

QTEST_GUILESS_MAIN(TestSyncReports)
#include "tst_syncreports.moc"
