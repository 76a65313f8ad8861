#include "records/paths.h"
#include "shell/mainwindow.h"
#include "storeprocess.h"
#include "sync/catalogframe.h"
#include "tests/app/shell/shellharness.h"
#include "tests/core/sync/catalogfixture.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/core/sync/framereceiver.h"
#include "tests/support/amqpclient.h"
#include "tests/support/brokernode.h"
#include "tests/support/stallwatch.h"
#include "tests/support/testrepository.h"
#include "tests/support/withoutstalling.h"

#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

#include <functional>
#include <memory>

using namespace CatalogFixture;

namespace
{

const int Long = 180000;
const QString AddTitle = QStringLiteral("Corvane有新增软件!");
const QString UpdateTitle = QStringLiteral("Corvane有更新!");

// A catalog file of the catalog server holding packages.
QString catalogFile(const QTemporaryDir &dir, const QString &name,
                    const QVector<CatalogPackage> &packages)
{
    const QString path = dir.filePath(name);
    writeCatalog(path, packages);
    return path;
}

// The titles of the desktop notifications so far, in order.
QStringList notificationTitles(const Sandbox &sandbox)
{
    QStringList titles;
    for (const QString &line : sandbox.notifications())
        titles << line.section(QLatin1Char('\t'), 2, 2);
    return titles;
}

int rowsNamed(const QString &name)
{
    return query(Paths::catalogDatabase(),
                 QStringLiteral("select count(*) as n from softwares where s_name='%1'").arg(name))
        .value(0)
        .value(QStringLiteral("n"))
        .toInt();
}

} // namespace

class TestBroker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        m_broker = std::make_unique<BrokerNode>();
        QVERIFY2(m_broker->isValid(), qPrintable(m_broker->errorString()));
        m_files.reset(new QTemporaryDir);
        QVERIFY(m_files->isValid());
        m_attacker = m_broker->freshAddress();
    }

    void cleanupTestCase() { m_broker.reset(); }

    // The broker stops and starts again while the window and the catalog server run: a push
    // the server made meanwhile and the store's catalog request both arrive, and the window
    // keeps to its events throughout.
    void brokerRestartLosesNothing()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        const QString settings = useBroker(h.sandbox());
        qputenv("VQS_CONFIG", settings.toUtf8());
        const CatalogPackage hello = package("你好世界", "cv-hello-1.0-1", "cv-hello");
        const CatalogPackage player = package("影音播放器", "cv-player-3.2-4", "cv-player");
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments() +
                             QStringList{"--catalog", catalogFile(*m_files, "one.xml", {hello})}));
        MainWindow *window = h.start();
        QTRY_VERIFY_WITH_TIMEOUT(!window->isLoading(), Long);
        StallWatch watch;

        QVERIFY(withoutStalling([&] { return m_broker->stop(); }));
        QCOMPARE(server.command("catalog " + catalogFile(*m_files, "two.xml", {hello, player})),
                 QStringLiteral("ok catalog"));
        QCOMPARE(
            server.command("push data_add_push " + catalogFile(*m_files, "player.xml", {player})),
            QStringLiteral("ok push 1"));
        // The store asks for the catalog again while the broker is away.
        window->findChild<QPushButton *>(QStringLiteral("pushButton_update"))->click();
        QVERIFY(withoutStalling([&] { return m_broker->start(); }));

        // Answered at start and again once the broker is back (the store may have asked more
        // than once meanwhile: it asks again for a catalog that does not come).
        const QString answered = QStringLiteral("data_requ from %1: 1 frame(s)").arg(m_client);
        QTRY_VERIFY_WITH_TIMEOUT(server.output().filter(answered).size() >= 2, Long);
        QTRY_VERIFY_WITH_TIMEOUT(
            !window->isLoading() && h.rowOf(h.catalogTable(), player.name) >= 0, Long);
        // The catalog answered may bring the row before the push itself is handled.
        QTRY_VERIFY_WITH_TIMEOUT(!h.sandbox().notifications().isEmpty(), Long);
        QCOMPARE(notificationTitles(h.sandbox()), QStringList{AddTitle});
        QVERIFY(watch.responsive());
    }

    void killedInTheMiddleOfAFrame_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<int>("storedBeforeKill");
        // The icon is fetched beside the frame once its rows are stored; the notice comes
        // after the rows as well, but before the receiver takes the next message.
        QTest::newRow("while its icon is fetched") << "wget"
                                                   << "held.png" << 1;
        QTest::newRow("after the frame is stored") << "notify-send"
                                                   << "" << 1;
    }

    // The store is killed while it handles a frame from the broker: it gets the frame again
    // when it starts, and the catalog holds the package once.
    void killedInTheMiddleOfAFrame()
    {
        QFETCH(QString, tool);
        QFETCH(QString, icon);
        QFETCH(int, storedBeforeKill);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        sandbox.prependPath(QStringLiteral(CORVANE_FAULT_DIR "/holdtools"));
        const QString settings = useBroker(sandbox);
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments() << "--files-only"));
        const QString held = sandbox.path("/.sandbox/held-" + tool);
        QVERIFY(writeFile(sandbox.path("/.sandbox/hold-" + tool), ""));

        auto store = std::make_unique<StoreProcess>(settings);
        QVERIFY(server.waitFor("join_requ from " + m_client, Long));
        const QString frame =
            catalogFile(*m_files, "held.xml", {package("held", "cv-held-1.0-1", icon)});
        QCOMPARE(server.command("push data_add_push " + frame + ' ' + m_client),
                 QStringLiteral("ok push 1"));
        QTRY_VERIFY_WITH_TIMEOUT(!readFile(held).trimmed().isEmpty(), Long);
        QTRY_COMPARE_WITH_TIMEOUT(rowsNamed("held"), storedBeforeKill, Long);
        store.reset();
        QCOMPARE(::kill(readFile(held).trimmed().toInt(), SIGKILL), 0);

        QVERIFY(QFile::remove(sandbox.path("/.sandbox/hold-" + tool)));
        store = std::make_unique<StoreProcess>(settings);
        QTRY_COMPARE_WITH_TIMEOUT(sandbox.notifications().size(), 1, Long);
        QCOMPARE(rowsNamed("held"), 1);
        QCOMPARE(row("held").value("s_rpm"), QStringLiteral("cv-held-1.0-1"));
    }

    void desktopCannotWriteToOthers_data()
    {
        QTest::addColumn<bool>("group"); // the attacker is a desktop of the group account
        QTest::addColumn<int>("route");
        // What the broker answers the first step that fails; "ok": it takes every step, and
        // the frame still reaches no desktop.
        QTest::addColumn<QString>("answer");
        const QString refused = QStringLiteral("ACCESS_REFUSED");
        for (const bool group : {false, true}) {
            auto row = [&](const char *name, Route route, const QString &answer) {
                QTest::addRow("%s: %s", group ? "group" : "desktop", name)
                    << group << int(route) << answer;
            };
            row("libvqs to another desktop's address", LibvqsToDesktop, refused);
            row("libvqs to the broadcast address", LibvqsToBroadcast, refused);
            row("to the desktops' exchange", ToDesktopsExchange, refused);
            row("to the default exchange, the queue's name as key", ToDefaultExchange, refused);
            row("to amq.topic", ToAmqTopic, refused);
            row("to the server exchange, the desktop's address as key", ToServerExchange, refused);
            row("own exchange bound to the desktops' exchange", OwnExchangeBound, refused);
            row("own exchange with the desktops' exchange as alternate", OwnAlternateExchange,
                refused);
            row("desktops' exchange bound to the server exchange", DesktopsBoundToServer, refused);
            row("server exchange bound to the desktops' exchange", ServerBoundToDesktops, refused);
            row("server exchange declared with an alternate", ServerExchangeAlternate, refused);
            row("own queue dead-lettering to the desktop", DeadLetterOwnQueue, refused);
            row("a queue of its own name dead-lettering", DeadLetterNewQueue, refused);
            row("a queue named by the broker", ServerNamedQueue, refused);
            row("own queue bound to the desktop's address", BindOwnQueue, refused);
            row("the desktop's queue unbound from the broadcast", UnbindVictim, refused);
            row("the desktop's queue consumed", ConsumeVictim, refused);
            row("the desktop's queue read", GetVictim, refused);
            row("the desktop's queue emptied", PurgeVictim, refused);
            row("the desktop's queue deleted", DeleteVictim, refused);
            row("the desktops' exchange deleted", DeleteDesktopsExchange, refused);
            row("a request with the desktop's user-id", VictimsUserId, "PRECONDITION_FAILED");
            // The copies go by the server exchange, where nothing else is bound.
            row("to the server with copies to the desktop and everyone", CopiesToDesktop, "ok");
        }
    }

    // Every way a desktop's account has at the broker to get a frame to another desktop, or to
    // take the frames meant for it: the broker refuses it, or the frame never arrives. The
    // store, started afterwards, gets the server's frames from before and after, and no other.
    void desktopCannotWriteToOthers()
    {
        QFETCH(bool, group);
        QFETCH(int, route);
        QFETCH(QString, answer);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        const QString settings = useBroker(sandbox);
        const QString server = m_broker->settingsFor(BrokerNode::ServerAddress);
        auto frameOf = [](const char *name) {
            return CatalogFrame::compose("data_add_push",
                                         {package(name, QStringLiteral("cv-%1-1-1").arg(name))});
        };
        const QString forged = frameOf("forged");
        QCOMPARE(sendFrom(server, m_client, frameOf("before")).exitCode, 0);

        const QString attacker = group ? m_broker->groupAddress() : m_attacker;
        const QString said = attack(Route(route), attacker, forged);
        QVERIFY2(said.startsWith(answer), qPrintable(said));

        // Had the broker taken the forged frame for the store, it would come before this one.
        QCOMPARE(sendFrom(server, m_client, frameOf("after")).exitCode, 0);
        qputenv("VQS_CONFIG", settings.toUtf8());
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        QTRY_VERIFY_WITH_TIMEOUT(receiver.recorder.frames.contains(frameOf("after")), Long);
        QVERIFY(!receiver.recorder.frames.contains(forged));
        QCOMPARE(names(), (QStringList{"after", "before"}));
    }

    // Credentials the broker refuses: one line on standard error, however often the store
    // tries again, and the store keeps running.
    void wrongCredentialsSayOneLine()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        useBroker(sandbox);
        const QString settings = m_broker->settingsFor(m_client, {"password = wrong"});
        const QString account = m_broker->account(m_client);
        auto refusals = [&] {
            return m_broker->log().count("PLAIN login refused: user '" + account + "'");
        };
        const int before = refusals();
        StoreProcess store(settings);
        // The receiver and the catalog request each try more than once.
        QTRY_VERIFY_WITH_TIMEOUT(refusals() >= before + 5, Long);
        QVERIFY(store.isRunning());
        const QStringList lines = store.transportLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains("login of user \"" + account + "\" refused: ACCESS_REFUSED"),
                 qPrintable(lines[0]));
    }

    // A desktop that is off while three pushes go out gets all three, in order, when it
    // starts: an add, an update of the same package, another add. Last: its push to everyone
    // would come to the desktops of the tests after it, whose receivers in this process attach
    // after the place the process kept.
    void offDesktopGetsThreePushesInOrder()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        const QString settings = useBroker(sandbox);
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments() << "--files-only"));
        {
            StoreProcess store(settings);
            // Its queue exists once its first request has gone out.
            QVERIFY(server.waitFor("join_requ from " + m_client, Long));
            // It keeps its place in the stream once it has handled a push there: a store that
            // has handled none attaches by time, and the broker starts such a consumer at the
            // stream's last chunk however old (a push of an earlier test here).
            QCOMPARE(server.command("push data_add_push " +
                                    catalogFile(*m_files, "p0.xml", {package("O", "cv-o-1.0-1")})),
                     QStringLiteral("ok push 1"));
            const QString offsetFile = m_broker->setting(m_client, "offset_file");
            // "@TIME STREAM" before the first push, "OFFSET STREAM" after.
            QTRY_VERIFY_WITH_TIMEOUT(QChar(readFile(offsetFile).append('@').at(0)).isDigit(), Long);
        }
        const QStringList pushes{
            "data_add_push " + catalogFile(*m_files, "p1.xml", {package("P", "cv-p-1.0-1")}),
            "data_update_push " + catalogFile(*m_files, "p2.xml", {package("P", "cv-p-2.0-1")}),
            "data_add_push " + catalogFile(*m_files, "p3.xml", {package("Q", "cv-q-1.0-1")})};
        for (const QString &push : pushes)
            QCOMPARE(server.command("push " + push + ' ' + m_client), QStringLiteral("ok push 1"));

        StoreProcess store(settings);
        // At least, not exactly: one more than awaited fails at once instead of at the timeout.
        QTRY_VERIFY_WITH_TIMEOUT(sandbox.notifications().size() >= 4, Long);
        QCOMPARE(notificationTitles(sandbox),
                 (QStringList{AddTitle, AddTitle, UpdateTitle, AddTitle}));
        QCOMPARE(row("P").value("s_rpm"), QStringLiteral("cv-p-2.0-1"));
        QCOMPARE(names(), (QStringList{"O", "P", "Q"}));
    }

private:
    enum Route {
        LibvqsToDesktop,
        LibvqsToBroadcast,
        ToDesktopsExchange,
        ToDefaultExchange,
        ToAmqTopic,
        ToServerExchange,
        OwnExchangeBound,
        OwnAlternateExchange,
        DesktopsBoundToServer,
        ServerBoundToDesktops,
        ServerExchangeAlternate,
        DeadLetterOwnQueue,
        DeadLetterNewQueue,
        ServerNamedQueue,
        BindOwnQueue,
        UnbindVictim,
        ConsumeVictim,
        GetVictim,
        PurgeVictim,
        DeleteVictim,
        DeleteDesktopsExchange,
        VictimsUserId,
        CopiesToDesktop,
    };

    // Takes route as the account of attacker against the store at m_client, the frame forged
    // being what it would deliver; the broker's answer to the first step that fails, or "ok".
    QString attack(Route route, const QString &attacker, const QString &forged)
    {
        const QString victim = m_client;
        const QString server = BrokerNode::ServerAddress;
        const QByteArray frame = forged.toUtf8();
        if (route == LibvqsToDesktop || route == LibvqsToBroadcast) {
            const ProcessResult sent = sendFrom(
                m_broker->settingsFor(attacker),
                route == LibvqsToBroadcast ? QStringLiteral("255.255.255.255") : victim, forged);
            const int at = sent.output.indexOf(QLatin1String("refused by the broker ("));
            return at < 0 ? sent.output : sent.output.mid(at + 23);
        }
        AmqpClient client(*m_broker, attacker);
        // The steps of the route, each taken only while the ones before it were.
        QList<std::function<QString()>> steps;
        const AmqpClient::Arguments deadLetter{{"x-dead-letter-exchange", "corvane"},
                                               {"x-dead-letter-routing-key", victim}};
        switch (route) {
        case ToDesktopsExchange:
            steps << [&] { return client.publish("corvane", victim, frame); };
            break;
        case ToDefaultExchange:
            steps << [&] { return client.publish("", victim, frame); };
            break;
        case ToAmqTopic:
            steps << [&] { return client.publish("amq.topic", victim, frame); };
            break;
        case ToServerExchange:
            steps << [&] { return client.publish("corvane.server", victim, frame); };
            break;
        case OwnExchangeBound:
            steps << [&] { return client.declareExchange(attacker); } << [&] {
                return client.bindExchange("corvane", attacker, "#");
            } << [&] { return client.publish(attacker, victim, frame); };
            break;
        case OwnAlternateExchange:
            steps << [&] {
                return client.declareExchange(attacker, {{"alternate-exchange", "corvane"}});
            } << [&] { return client.publish(attacker, victim, frame); };
            break;
        case DesktopsBoundToServer:
            steps << [&] { return client.bindExchange("corvane.server", "corvane", "#"); };
            break;
        case ServerBoundToDesktops:
            steps << [&] { return client.bindExchange("corvane", "corvane.server", "#"); }
                  << [&] { return client.publish("corvane.server", server, frame); };
            break;
        case ServerExchangeAlternate:
            steps << [&] {
                return client.declareExchange("corvane.server",
                                              {{"alternate-exchange", "corvane"}});
            };
            break;
        case DeadLetterOwnQueue:
            steps << [&] { return client.declareQueue(attacker, deadLetter); };
            break;
        case DeadLetterNewQueue:
            steps << [&] { return client.declareQueue(attacker + ".dead", deadLetter); };
            break;
        case ServerNamedQueue:
            steps << [&] { return client.declareQueue(QString()); };
            break;
        case BindOwnQueue:
            steps << [&] { return client.bindQueue(attacker, "corvane", victim); };
            break;
        case UnbindVictim:
            steps << [&] { return client.unbindQueue(victim, "corvane", "255.255.255.255"); };
            break;
        case ConsumeVictim:
            steps << [&] { return client.consume(victim); };
            break;
        case GetVictim:
            steps << [&] { return client.get(victim); };
            break;
        case PurgeVictim:
            steps << [&] { return client.purgeQueue(victim); };
            break;
        case DeleteVictim:
            steps << [&] { return client.deleteQueue(victim); };
            break;
        case DeleteDesktopsExchange:
            steps << [&] { return client.deleteExchange("corvane"); };
            break;
        case VictimsUserId:
            steps << [&] {
                return client.publish("corvane.server", server,
                                      CatalogFrame::joinRequest(victim).toUtf8(),
                                      m_broker->account(victim));
            };
            break;
        case CopiesToDesktop:
            steps << [&] {
                return client.publish("corvane.server", server, frame, QString(),
                                      {victim, "255.255.255.255"});
            };
            break;
        default:
            break;
        }
        if (client.loginAnswer() != QLatin1String("ok"))
            return QStringLiteral("login: ") + client.loginAnswer();
        for (const auto &step : steps) {
            const QString said = step();
            if (said != QLatin1String("ok"))
                return said;
        }
        return QStringLiteral("ok");
    }

    // The sandbox's store at an address of its own on the broker; its settings file.
    QString useBroker(Sandbox &sandbox)
    {
        m_client = m_broker->freshAddress();
        sandbox.setConfig("localip", m_client);
        sandbox.setConfig("serverip", BrokerNode::ServerAddress);
        return m_broker->settingsFor(m_client);
    }

    QStringList serverArguments()
    {
        return {"--config", m_broker->settingsFor(BrokerNode::ServerAddress)};
    }

    static ProcessResult sendFrom(const QString &settings, const QString &dest, const QString &text)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VQS_CONFIG", settings);
        return ProcessRunner::run(VQS_PEER_PROGRAM, {"send", dest, text}, env);
    }

    std::unique_ptr<BrokerNode> m_broker;
    std::unique_ptr<QTemporaryDir> m_files;
    QString m_client;   // the store's address in the test that runs
    QString m_attacker; // a desktop with an account of its own that tries to reach others
};

QTEST_MAIN(TestBroker)

#include "tst_broker.moc"
