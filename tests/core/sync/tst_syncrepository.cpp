#include "catalogfixture.h"
#include "catalogserverprocess.h"
#include "framereceiver.h"
#include "queues/updaterpmthread.h"
#include "records/paths.h"
#include "sync/catalogframe.h"
#include "sync/catalogrequest.h"
#include "sync/framefile.h"
#include "sync/reportsender.h"
#include "tests/support/amqpclient.h"
#include "tests/support/brokernode.h"
#include "tests/support/httpserver.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"
#include "tools/demo-catalog/appstreamfile.h"

#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace CatalogFixture;

namespace
{

TestPackage rpm(const QString &name, const QString &version)
{
    return TestPackage{name, version, QStringLiteral("1")};
}

AppStreamEntry application(const QString &package, const QString &name)
{
    return {
        package, name, {}, package + " summary", {"Office"}, ("picture of " + package).toUtf8()};
}

QVector<AppStreamEntry> applications()
{
    return {application("cv-alpha", "Alpha"), application("cv-beta", "Beta"),
            application("cv-gamma", "Gamma"), application("cv-delta", "Delta")};
}

} // namespace

// The catalog server following a repository while a store runs: each change of the
// repository reaches the store as its push, over direct TCP and through the broker.
class TestSyncRepository : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        useLoopbackTransport();
        m_broker = std::make_unique<BrokerNode>();
        QVERIFY2(m_broker->isValid(), qPrintable(m_broker->errorString()));
    }

    void cleanupTestCase() { m_broker.reset(); }

    void repositoryChangesReachTheStore_data()
    {
        QTest::addColumn<bool>("broker");
        QTest::newRow("tcp") << false;
        QTest::newRow("broker") << true;
    }

    void repositoryChangesReachTheStore()
    {
        QFETCH(bool, broker);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        QVERIFY(TestKey::catalog().trust());
        QStringList serverArguments;
        if (broker) {
            const QString client = m_broker->freshAddress();
            qputenv("VQS_CONFIG", m_broker->settingsFor(client).toUtf8());
            sandbox.setConfig("localip", client);
            sandbox.setConfig("serverip", BrokerNode::ServerAddress);
            serverArguments << "--config" << m_broker->settingsFor(BrokerNode::ServerAddress);
        }
        TestRepository repository({rpm("cv-alpha", "1.0"), rpm("cv-beta", "1.0")});
        QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
        QString error;
        QVERIFY2(AppStreamFile(applications()).addTo(repository.directory(), &error),
                 qPrintable(error));
        QTemporaryDir files;
        HttpServer http(files.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));

        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments + QStringList{"--repository", repository.directory(),
                                                           "--files", files.path(), "--settle",
                                                           "100"}));
        QCOMPARE(readFile(files.path() + "/cv-alpha.png"), QByteArray("picture of cv-alpha"));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"Alpha", "Beta"}), 60000);
        const auto pushes = [&](const char *action) {
            return receiver.recorder.countStartingWith(QStringLiteral("<frame action='") + action +
                                                       "'");
        };

        QVERIFY2(repository.add({rpm("cv-alpha", "1.1")}), qPrintable(repository.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.1-1"),
                                  60000);
        QTRY_COMPARE(pushes("data_update_push"), 1);

        QVERIFY(repository.add({rpm("cv-gamma", "1.0")}));
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"Alpha", "Beta", "Gamma"}), 60000);
        QTRY_COMPARE(pushes("data_add_push"), 1);

        QVERIFY(repository.remove(rpm("cv-beta", "1.0")));
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"Alpha", "Gamma"}), 60000);
        QTRY_COMPARE(pushes("data_delete_push"), 1);

        // A broken AppStream file: nothing is pushed, not even the package added meanwhile,
        // until it is whole again.
        const QString repodata = repository.directory() + "/repodata";
        const int lines = server.output().size();
        QVERIFY(writeFile(files.path() + "/broken.xml", "<components><component>"));
        QCOMPARE(ProcessRunner::run("modifyrepo_c",
                                    {"--mdtype=appstream", files.path() + "/broken.xml", repodata})
                     .exitCode,
                 0);
        QVERIFY(!server.waitForLine(QRegularExpression("repository not read: AppStream"), lines)
                     .isEmpty());
        QVERIFY(repository.add({rpm("cv-delta", "1.0")}));
        QVERIFY2(AppStreamFile(applications()).addTo(repository.directory(), &error),
                 qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"Alpha", "Delta", "Gamma"}), 60000);
        QTRY_COMPARE(pushes("data_add_push"), 2);

        // A repository copied in the wrong order, repomd.xml before the files it names: not
        // read until they are there, though repomd.xml does not change again.
        TestRepository staging({rpm("cv-alpha", "1.1"), rpm("cv-gamma", "1.0"),
                                rpm("cv-delta", "1.0"), rpm("cv-epsilon", "1.0")});
        QVERIFY2(staging.isValid(), qPrintable(staging.errorString()));
        QVERIFY2(AppStreamFile(applications() << application("cv-epsilon", "Epsilon"))
                     .addTo(staging.directory(), &error),
                 qPrintable(error));
        const int before = server.output().size();
        QCOMPARE(ProcessRunner::run("cp", {staging.directory() + "/repodata/repomd.xml", repodata})
                     .exitCode,
                 0);
        QVERIFY(!server.waitForLine(QRegularExpression("repository not read: .*primary"), before)
                     .isEmpty());
        QCOMPARE(
            ProcessRunner::run("cp", {"-r", staging.directory() + "/.", repository.directory()})
                .exitCode,
            0);
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"Alpha", "Delta", "Epsilon", "Gamma"}),
                                  60000);
        QTRY_COMPARE(pushes("data_add_push"), 3);
        QCOMPARE(pushes("data_delete_push"), 1);
        QCOMPARE(pushes("data_update_push"), 1);
    }

    void groupsGetTheirOwnCatalog_data()
    {
        QTest::addColumn<bool>("broker");
        QTest::newRow("tcp") << false;
        QTest::newRow("broker") << true;
    }

    // A store in the pilot group, whose overrides hide one package and pin another: neither its
    // catalog, nor a request naming a default desktop's address, nor a push brings it what the
    // group does not get; configured out of the group, it gets the default catalog at its next
    // join.
    void groupsGetTheirOwnCatalog()
    {
        QFETCH(bool, broker);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        QVERIFY(TestKey::catalog().trust());
        QString client = QStringLiteral("127.0.0.1");
        const QString other = broker ? m_broker->freshAddress() : QStringLiteral("127.0.0.5");
        QStringList serverArguments;
        qunsetenv("VQS_CONFIG");
        QTemporaryDir work;
        if (broker) {
            // pilot's stream, which this desktop's account alone may read.
            client = m_broker->freshAddress();
            const ProcessResult set =
                m_broker->addAccounts({"--server", BrokerNode::ServerAddress, "--client", client,
                                       "--desktop-group", "pilot " + client},
                                      work.path());
            QVERIFY2(set.exitCode == 0, qPrintable(set.output));
            qputenv("VQS_CONFIG",
                    m_broker->settingsFor(client, {"stream = corvane.broadcast.pilot"}).toUtf8());
            sandbox.setConfig("localip", client);
            sandbox.setConfig("serverip", BrokerNode::ServerAddress);
            serverArguments << "--config" << m_broker->settingsFor(BrokerNode::ServerAddress)
                            << "--group-streams";
        }
        TestRepository repository(
            {rpm("cv-alpha", "1.0"), rpm("cv-alpha", "1.1"), rpm("cv-beta", "1.0")});
        QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
        QString error;
        QVERIFY2(AppStreamFile(applications()).addTo(repository.directory(), &error),
                 qPrintable(error));
        QTemporaryDir files;
        const QString overrides = work.path() + "/overrides";
        QVERIFY(writeFile(overrides, "hide cv-beta for pilot\npin cv-alpha 1.0-1 for pilot\n"));
        serverArguments << "--repository" << repository.directory() << "--files" << files.path()
                        << "--settle"
                        << "100"
                        << "--overrides" << overrides;
        auto server = std::make_unique<CatalogServerProcess>();
        QVERIFY(server->start(serverArguments + QStringList{"--desktop-group", "pilot " + client}));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList{"Alpha"}, 60000);
        QCOMPARE(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.0-1"));

        // Naming a default desktop: answered at this one, with its own group's catalog.
        int lines = server->output().size();
        const QByteArray ask = CatalogFrame::dataRequest(other).toUtf8();
        if (broker) {
            AmqpClient desk(m_broker->value("AMQP_PORT").toInt(), "corvane",
                            m_broker->account(client), m_broker->password(client));
            QCOMPARE(desk.publish("corvane.server", BrokerNode::ServerAddress, ask,
                                  m_broker->account(client)),
                     QStringLiteral("ok"));
        } else {
            QVERIFY(CatalogServerProcess::sendFrom(client, {QString::fromUtf8(ask)}));
        }
        QVERIFY(!server
                     ->waitForLine(QRegularExpression("^data_requ from " +
                                                      QRegularExpression::escape(client) +
                                                      ": \\d+ frame\\(s\\) \\(group pilot\\)$"),
                                   lines)
                     .isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(receiver.recorder.countStartingWith("<frame action='data_resp'"),
                                  2, 60000);

        // Newer versions of both and a new package: the group is told of the new package alone.
        lines = server->output().size();
        QVERIFY(repository.add(
            {rpm("cv-alpha", "1.2"), rpm("cv-beta", "1.1"), rpm("cv-gamma", "1.0")}));
        QVERIFY(!server->waitForLine(QRegularExpression("data_add_push to group pilot 1 "), lines)
                     .isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"Alpha", "Gamma"}), 60000);
        QCOMPARE(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.0-1"));
        QCOMPARE(receiver.recorder.countStartingWith("<frame action='data_update_push'"), 0);
        if (broker) {
            // The default group's pushes went into its stream, one message each, though none of
            // its desktops asked: a stream this account may not read.
            QVERIFY(!server
                         ->waitForLine(
                             QRegularExpression("data_update_push to group default 2 \\(1 message"),
                             lines)
                         .isEmpty());
            AmqpClient desk(m_broker->value("AMQP_PORT").toInt(), "corvane",
                            m_broker->account(client), m_broker->password(client));
            const QString said = desk.readStream("corvane.broadcast", "any");
            QVERIFY2(said.startsWith("ACCESS_REFUSED"), qPrintable(said));
        }

        // A version for default alone: pilot is sent nothing, so default's catalog file, signed
        // after all pilot was sent, is the newest frame a file holds; it names default and is
        // refused. Pilot's own folder holds pilot's catalog, and the store keeps its group.
        lines = server->output().size();
        QVERIFY(repository.add({rpm("cv-alpha", "1.3")}));
        QVERIFY(
            !server->waitForLine(QRegularExpression("data_update_push to group default 1 "), lines)
                 .isEmpty());
        const QString area = files.path() + "/.cv_data/";
        QVERIFY(FrameFile::replay(area + "data_x86_64", "replayed: "));
        QVERIFY(receiver.drain("after-default-catalog-file"));
        QCOMPARE(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.0-1"));
        QCOMPARE(names(), QStringList({"Alpha", "Gamma"}));
        QVERIFY(readFile(area + "groups/pilot/data_x86_64").contains(" group='pilot'>"));
        QCOMPARE(readFile(Paths::catalogGroupFile()).split(' ').value(0), QByteArray("pilot"));

        // The console's push to one group: default's never reaches this pilot desktop, pilot's
        // does; a group nobody configured sends nothing.
        QVERIFY(writeCatalog(work.path() + "/omega.xml", {package("Omega", "cv-omega-1.0-1")}));
        QVERIFY(writeCatalog(work.path() + "/zeta.xml", {package("Zeta", "cv-zeta-1.0-1")}));
        QVERIFY(server->command("push data_add_push " + work.path() + "/omega.xml group Pilot")
                    .startsWith("error unknown group"));
        QVERIFY(server->command("push data_add_push " + work.path() + "/omega.xml group default")
                    .startsWith("ok push "));
        QCOMPARE(server->command("push data_add_push " + work.path() + "/zeta.xml group pilot"),
                 QStringLiteral("ok push 1"));
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"Alpha", "Gamma", "Zeta"}), 60000);
        QVERIFY(receiver.drain("after-group-pushes"));
        QCOMPARE(names(), QStringList({"Alpha", "Gamma", "Zeta"}));

        // Out of the group: the next join brings the default catalog.
        server = std::make_unique<CatalogServerProcess>();
        QVERIFY(server->start(serverArguments));
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"Alpha", "Beta", "Gamma"}), 60000);
        QCOMPARE(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.3-1"));
    }

    void rolloutReachesThePilotFirst_data()
    {
        QTest::addColumn<bool>("pilotFails");
        QTest::newRow("promoted") << false;
        QTest::newRow("halted by a pilot's failure") << true;
    }

    // A store outside the pilot group keeps the version it has while a new one reaches the
    // pilot: promote brings it the new one; a pilot desktop's failed upgrade halts the rollout,
    // and the store is still served the old version when it asks again.
    void rolloutReachesThePilotFirst()
    {
        QFETCH(bool, pilotFails);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        QVERIFY(TestKey::catalog().trust());
        qunsetenv("VQS_CONFIG");
        TestRepository repository({rpm("cv-alpha", "1.0")});
        QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
        QString error;
        QVERIFY2(AppStreamFile(applications()).addTo(repository.directory(), &error),
                 qPrintable(error));
        QTemporaryDir work;
        const QString pilot = QStringLiteral("127.0.0.9");
        CatalogServerProcess server;
        QVERIFY(server.start({"--repository", repository.directory(), "--files",
                              work.filePath("www"), "--settle", "100", "--desktop-group",
                              "pilot " + pilot, "--rollout-pilot", "pilot", "--halt-failures", "1",
                              "--fleet-db", work.filePath("fleet.db")}));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.0-1"),
                                  60000);

        int lines = server.output().size();
        QVERIFY(repository.add({rpm("cv-alpha", "1.1")}));
        QVERIFY(!server.waitForLine(QRegularExpression("rollout of cv-alpha 1.1-1 started"), lines)
                     .isEmpty());
        if (pilotFails) {
            lines = server.output().size();
            QVERIFY(CatalogServerProcess::sendFrom(
                pilot, {"<frame action='report_result'><datas client='127.0.0.9' "
                        "architecture='x86_64'><report id='00000000000000b1-1' time='1700000000' "
                        "oper='升级' rpm='cv-alpha-1.1-1' code='-2' echo='scriptlet failed'/>"
                        "</datas></frame>"}));
            QVERIFY(
                !server.waitForLine(QRegularExpression("rollout of cv-alpha 1.1-1 halted"), lines)
                     .isEmpty());
            QVERIFY(server.command("promote cv-alpha").startsWith("error"));
        } else {
            QVERIFY(server.command("promote cv-alpha").startsWith("ok"));
            QTRY_COMPARE_WITH_TIMEOUT(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.1-1"),
                                      60000);
            return;
        }
        // Asked again, the catalog still holds the version the pilot's failures stopped at.
        const int answers = receiver.recorder.countStartingWith("<frame action='data_resp'");
        CatalogRequest::send();
        QTRY_VERIFY_WITH_TIMEOUT(
            receiver.recorder.countStartingWith("<frame action='data_resp'") > answers, 60000);
        QCOMPARE(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.0-1"));
        QCOMPARE(receiver.recorder.countStartingWith("<frame action='data_update_push'"), 0);
    }

    void pilotStoresFailedUpgradeHaltsTheRollout_data()
    {
        QTest::addColumn<bool>("broker");
        QTest::newRow("tcp") << false;
        QTest::newRow("broker") << true;
    }

    // Two stores of their own: the pilot's receives the new version, its upgrade fails in the
    // package's scriptlet and its report halts the rollout; the other, switched off meanwhile,
    // finds nothing of the new version when it is back, nor when it asks again.
    void pilotStoresFailedUpgradeHaltsTheRollout()
    {
        QFETCH(bool, broker);
        const TestPackage old = rpm("cv-alpha", "1.0");
        TestPackage refused = rpm("cv-alpha", "1.1");
        refused.preScript = QStringLiteral("error(\"pilot upgrade refused\")");
        TestRepository repository({old});
        QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
        QString error;
        QVERIFY2(AppStreamFile(applications()).addTo(repository.directory(), &error),
                 qPrintable(error));
        const QString pilot = broker ? m_broker->freshAddress() : QStringLiteral("127.0.0.9");
        const QString other = broker ? m_broker->freshAddress() : QStringLiteral("127.0.0.1");
        const auto bound = qScopeGuard([] { qputenv("VQS_BIND", "127.0.0.1"); });
        QTemporaryDir work;
        QStringList serverArguments;
        if (broker)
            serverArguments << "--config" << m_broker->settingsFor(BrokerNode::ServerAddress);
        CatalogServerProcess server;
        QVERIFY(server.start(
            serverArguments +
            QStringList{"--repository", repository.directory(), "--files", work.filePath("www"),
                        "--settle", "100", "--desktop-group", "pilot " + pilot, "--rollout-pilot",
                        "pilot", "--halt-failures", "1", "--fleet-db", work.filePath("fleet.db")}));

        Sandbox otherDesk(&repository);
        QVERIFY2(setUpDesktop(otherDesk, old, other, broker), qPrintable(otherDesk.errorString()));
        auto receiver = std::make_unique<FrameReceiver>(broker ? "127.0.0.1" : other);
        QVERIFY(receiver->start());
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.0-1"),
                                  60000);
        receiver.reset();
        {
            Sandbox pilotDesk(&repository);
            QVERIFY2(setUpDesktop(pilotDesk, old, pilot, broker),
                     qPrintable(pilotDesk.errorString()));
            FrameReceiver pilotReceiver(broker ? "127.0.0.1" : pilot);
            QVERIFY(pilotReceiver.start());
            ReportSender sender;
            sender.start();
            CatalogRequest::send();
            QTRY_COMPARE_WITH_TIMEOUT(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.0-1"),
                                      60000);

            const int lines = server.output().size();
            QVERIFY(repository.add({refused}));
            QTRY_COMPARE_WITH_TIMEOUT(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.1-1"),
                                      60000);
            // What the window queues when the user presses 升级 on the row.
            UpdateRpmThread upgrade;
            QSignalSpy ended(&upgrade, &UpdateRpmThread::updateRpmExecEnd);
            upgrade.insertQueue({"升级", "0", row("Alpha").value("s_rpm"), "cv-alpha"});
            upgrade.start();
            QVERIFY(ended.wait(120000));
            upgrade.stop();
            QVERIFY(upgrade.wait(60000));
            QCOMPARE(ended.first().at(1).toInt(), -2);
            QVERIFY(pilotDesk.isInstalled("cv-alpha-1.0-1"));
            QVERIFY(!server
                         .waitForLine(QRegularExpression("rollout of cv-alpha 1.1-1 halted"), lines,
                                      60000)
                         .isEmpty());
            QCOMPARE(
                query(work.filePath("fleet.db"), "select address, rpm, code from results").value(0),
                Row({{"address", pilot}, {"rpm", "cv-alpha-1.1-1"}, {"code", "-2"}}));
            QVERIFY(query(work.filePath("fleet.db"), "select echo from results")
                        .value(0)
                        .value("echo")
                        .contains("pilot upgrade refused"));
        }
        QVERIFY(server.command("promote cv-alpha").startsWith("error"));

        // Back on, then asking again: still the version the pilot's failure stopped at.
        if (!broker)
            qputenv("VQS_BIND", other.toLatin1());
        receiver = std::make_unique<FrameReceiver>(broker ? "127.0.0.1" : other);
        QVERIFY(receiver->start());
        CatalogRequest::send();
        QTRY_VERIFY_WITH_TIMEOUT(
            receiver->recorder.countStartingWith("<frame action='data_resp'") > 0, 60000);
        QVERIFY(receiver->drain("after-the-answer"));
        QCOMPARE(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.0-1"));
        QCOMPARE(receiver->recorder.countStartingWith("<frame action='data_update_push'"), 0);

        // Nor by naming the pilot desktop: answered here, with its own group's catalog.
        const int lines = server.output().size();
        const QString ask = CatalogFrame::dataRequest(pilot);
        if (broker) {
            AmqpClient desk(m_broker->value("AMQP_PORT").toInt(), "corvane",
                            m_broker->account(other), m_broker->password(other));
            QCOMPARE(desk.publish("corvane.server", BrokerNode::ServerAddress, ask.toUtf8(),
                                  m_broker->account(other)),
                     QStringLiteral("ok"));
        } else {
            QVERIFY(CatalogServerProcess::sendFrom(other, {ask}));
        }
        QVERIFY(!server
                     .waitForLine(QRegularExpression("^data_requ from " +
                                                     QRegularExpression::escape(other) +
                                                     ": .*\\(group default\\)$"),
                                  lines)
                     .isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(receiver->recorder.countStartingWith("<frame action='data_resp'"),
                                  2, 60000);
        QVERIFY(receiver->drain("after-the-second-answer"));
        QCOMPARE(row("Alpha").value("s_rpm"), QStringLiteral("cv-alpha-1.0-1"));
    }

private:
    // The store of the current sandbox as the desktop at address, package installed: its
    // client configuration and the transport it receives and sends on.
    bool setUpDesktop(Sandbox &desk, const TestPackage &package, const QString &address,
                      bool broker)
    {
        if (!desk.isValid() || !desk.install(package) || !TestKey::catalog().trust())
            return false;
        desk.setConfig("localip", address);
        if (broker) {
            qputenv("VQS_CONFIG", m_broker->settingsFor(address).toUtf8());
            desk.setConfig("serverip", BrokerNode::ServerAddress);
        } else {
            qputenv("VQS_BIND", address.toLatin1());
        }
        return true;
    }

    std::unique_ptr<BrokerNode> m_broker;
};

QTEST_GUILESS_MAIN(TestSyncRepository)
#include "tst_syncrepository.moc"
