#include "tests/support/amqpclient.h"
#include "tests/support/brokernode.h"
#include "vqstesting.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace VqsTesting;

// Who may do what on the broker: whom a receiver says a message came from, what a desktop's
// account cannot do to the catalog server's queue, and the files scripts/broker refuses to
// trust. The receivers are peers, each on a desktop address of its own.
class TestVqsBrokerAccounts : public QObject
{
    Q_OBJECT

public:
    explicit TestVqsBrokerAccounts(BrokerNode *broker) : m_broker(broker) {}

private slots:
    void initTestCase()
    {
        QVERIFY2(m_broker->isValid(), qPrintable(m_broker->errorString()));
        m_server = m_broker->settingsFor(BrokerNode::ServerAddress);
    }

    void receiverNamesTheSendersAccount_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::newRow("a desktop's own account") << "desk";
        QTest::newRow("a group's account") << "group";
        QTest::newRow("the catalog server's account") << "server";
        // Another AMQP client may leave the user-id out: then nobody is vouched for.
        QTest::newRow("no user-id") << "stock";
    }

    // What the broker checked the user-id against: the publisher's login.
    void receiverNamesTheSendersAccount()
    {
        QFETCH(QString, sender);
        QString receiver = m_server;
        QString account;
        if (sender == QLatin1String("server")) {
            const QString desk = m_broker->freshAddress();
            receiver = m_broker->settingsFor(desk);
            account = QStringLiteral("catalog-server");
            QCOMPARE(runPeer({"send", desk, "hello"}, withSettings(m_server)).exitCode, 0);
        } else {
            QCOMPARE(
                m_broker->ctl({"purge_queue", "-p", "corvane", BrokerNode::ServerAddress}).exitCode,
                0);
            const QString desk = sender == QLatin1String("group") ? m_broker->groupAddress()
                                                                  : m_broker->freshAddress();
            if (sender == QLatin1String("stock")) {
                QCOMPARE(
                    client(desk)->publish("corvane.server", BrokerNode::ServerAddress, "hello"),
                    QStringLiteral("ok"));
            } else {
                account = m_broker->account(desk);
                QCOMPARE(runPeer({"send", BrokerNode::ServerAddress, "hello"},
                                 withSettings(m_broker->settingsFor(desk)))
                             .exitCode,
                         0);
            }
        }
        QCOMPARE(receiveInPeer(receiver, 1, "from"), QStringList{"5 [" + account + "] hello"});
    }

    void desktopCannotReachTheServersQueue_data()
    {
        QTest::addColumn<bool>("group");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("answer");
        for (const bool group : {false, true}) {
            auto row = [&](const char *operation, const char *answer) {
                QTest::addRow("%s, %s", group ? "group" : "desktop", operation)
                    << group << operation << answer;
            };
            row("consume", "ACCESS_REFUSED");
            row("get", "ACCESS_REFUSED");
            row("purge", "ACCESS_REFUSED");
            row("delete", "ACCESS_REFUSED");
            row("bind to the desktops' exchange", "ACCESS_REFUSED");
            row("publish as the catalog server", "PRECONDITION_FAILED");
        }
    }

    // The requests of every desktop wait in the server's queue: no desktop takes, empties or
    // reroutes them, nor speaks as the server. The group's prefix holds the server's address.
    void desktopCannotReachTheServersQueue()
    {
        QFETCH(bool, group);
        QFETCH(QString, operation);
        QFETCH(QString, answer);
        const QString server = BrokerNode::ServerAddress;
        QCOMPARE(m_broker->ctl({"purge_queue", "-p", "corvane", server}).exitCode, 0);
        const QString desk = group ? m_broker->groupAddress() : m_broker->freshAddress();
        QCOMPARE(runPeer({"send", server, "waiting"}, withSettings(m_broker->settingsFor(desk)))
                     .exitCode,
                 0);
        const std::unique_ptr<AmqpClient> attacker = client(desk);
        QString said;
        if (operation == QLatin1String("consume"))
            said = attacker->consume(server);
        else if (operation == QLatin1String("get"))
            said = attacker->get(server);
        else if (operation == QLatin1String("purge"))
            said = attacker->purgeQueue(server);
        else if (operation == QLatin1String("delete"))
            said = attacker->deleteQueue(server);
        else if (operation == QLatin1String("bind to the desktops' exchange"))
            said = attacker->bindQueue(server, "corvane", "#");
        else
            said = attacker->publish("corvane.server", server, "as the server", "catalog-server");
        QVERIFY2(said.startsWith(answer), qPrintable(said));
        QCOMPARE(receiveInPeer(m_server, 1), QStringList{"7 waiting"});
    }

    void desktopOnlyReadsTheStream_data()
    {
        QTest::addColumn<bool>("group");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("answer");
        for (const bool group : {false, true}) {
            auto row = [&](const char *operation, const char *answer) {
                QTest::addRow("%s, %s", group ? "group" : "desktop", operation)
                    << group << operation << answer;
            };
            row("read", "ok");
            // The read right would allow it on a queue; the broker cannot empty a stream.
            row("purge", "NOT_IMPLEMENTED");
            row("delete", "ACCESS_REFUSED");
            row("declare again", "ACCESS_REFUSED");
            row("publish into it", "ACCESS_REFUSED");
            row("push to everyone", "ACCESS_REFUSED");
            row("bind it to the server exchange", "ACCESS_REFUSED");
        }
    }

    // Every push goes through the one stream: a desktop reads it, and neither empties,
    // deletes, redeclares nor writes it, by whatever route.
    void desktopOnlyReadsTheStream()
    {
        QFETCH(bool, group);
        QFETCH(QString, operation);
        QFETCH(QString, answer);
        const QString stream = m_broker->setting(BrokerNode::ServerAddress, "stream");
        const QByteArray push = QByteArray("push before ") + QTest::currentDataTag();
        QCOMPARE(
            runPeer({"send", "255.255.255.255", QString::fromUtf8(push)}, withSettings(m_server))
                .exitCode,
            0);
        const QString desk = group ? m_broker->groupAddress() : m_broker->freshAddress();
        const std::unique_ptr<AmqpClient> attacker = client(desk);
        QString said;
        if (operation == QLatin1String("read"))
            said = attacker->readStream(stream, push);
        else if (operation == QLatin1String("purge"))
            said = attacker->purgeQueue(stream);
        else if (operation == QLatin1String("delete"))
            said = attacker->deleteQueue(stream);
        else if (operation == QLatin1String("declare again"))
            said = attacker->declareQueue(stream, {{"x-queue-type", "classic"}});
        else if (operation == QLatin1String("publish into it"))
            said = attacker->publish("", stream, "forged", m_broker->account(desk));
        else if (operation == QLatin1String("push to everyone"))
            said =
                attacker->publish("corvane", "255.255.255.255", "forged", m_broker->account(desk));
        else
            said = attacker->bindQueue(stream, "corvane.server", "#");
        QVERIFY2(said.startsWith(answer), qPrintable(said));
        QCOMPARE(client(desk)->readStream(stream, push), QStringLiteral("ok"));
    }

    void brokerScriptRefusesPlantedFiles_data()
    {
        QTest::addColumn<int>("plant");
        QTest::newRow("node.env in a folder of another user") << int(ForeignFolder);
        QTest::newRow("node.env in a folder others may change") << int(WritableFolder);
        QTest::newRow("node.env others may change") << int(WritableNodeEnv);
        QTest::newRow("settings folder of another user") << int(ForeignOutFolder);
        QTest::newRow("settings file a symbolic link") << int(SymbolicLink);
        QTest::newRow("settings file a hard link") << int(HardLink);
    }

    // The script runs as root: it sources DIR/node.env and writes the settings files.
    void brokerScriptRefusesPlantedFiles()
    {
        QFETCH(int, plant);
        if ((plant == ForeignFolder || plant == ForeignOutFolder) && geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QTemporaryDir scratch;
        const QString dir = scratch.filePath("planted");
        const QString victim = scratch.filePath("victim");
        QVERIFY(QDir().mkdir(dir) && writeFile(victim, "victim\n"));
        const QString settings = dir + "/vqs-10.78.0.9.conf";
        const bool accounts = plant >= ForeignOutFolder;
        if (!accounts)
            QVERIFY(writeFile(
                dir + "/node.env",
                "NODE=x@localhost\ntouch \"$(dirname \"${BASH_SOURCE[0]}\")/sourced\"\n"));
        if (plant == ForeignFolder || plant == ForeignOutFolder)
            QVERIFY(chown(qPrintable(dir), nobody(), gid_t(-1)) == 0);
        if (plant == WritableFolder)
            QVERIFY(chmod(qPrintable(dir), 0777) == 0);
        if (plant == WritableNodeEnv)
            QVERIFY(chmod(qPrintable(dir + "/node.env"), 0666) == 0);
        if (plant == SymbolicLink)
            QVERIFY(symlink(qPrintable(victim), qPrintable(settings)) == 0);
        if (plant == HardLink)
            QVERIFY(link(qPrintable(victim), qPrintable(settings)) == 0);

        const ProcessResult run =
            accounts ? m_broker->addAccounts(
                           {"--server", BrokerNode::ServerAddress, "--client", "10.78.0.9"}, dir)
                     : m_broker->script({"ctl", dir, "status"});
        QVERIFY2(run.exitCode > 0 && run.output.contains("refused"), qPrintable(run.output));
        QVERIFY(!QFile::exists(dir + "/sourced"));
        QCOMPARE(readFile(victim), QByteArray("victim\n"));
    }

    // One group account would read the queues of the other's desktops: neither is made.
    void brokerScriptRefusesOverlappingGroups()
    {
        QTemporaryDir scratch;
        const ProcessResult run = m_broker->addAccounts(
            {"--server", BrokerNode::ServerAddress, "--group", "10.79", "--group", "10.79.3"},
            scratch.path());
        QVERIFY2(run.exitCode > 0 && run.output.contains("overlap"), qPrintable(run.output));
        const QString users = m_broker->ctl({"list_users"}).output;
        QVERIFY2(!users.contains("group-10.79"), qPrintable(users));
    }

private:
    enum Plant {
        ForeignFolder,
        WritableFolder,
        WritableNodeEnv,
        ForeignOutFolder,
        SymbolicLink,
        HardLink
    };

    // A plain AMQP client logged in as the account of address.
    std::unique_ptr<AmqpClient> client(const QString &address)
    {
        return std::make_unique<AmqpClient>(*m_broker, address);
    }

    BrokerNode *m_broker;
    QString m_server; // settings of the catalog server's account
};

QObject *makeBrokerAccountsTest(BrokerNode *broker)
{
    return new TestVqsBrokerAccounts(broker);
}

#include "tst_vqsbrokeraccounts.moc"
