#include "tests/support/amqpclient.h"
#include "tests/support/brokernode.h"
#include "vqsconfig.h"
#include "vqstesting.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <memory>

using namespace VqsTesting;

// What only the broker transport does: its settings file, acknowledgements, the sender's
// backlog, refused messages and TLS. The receivers are peers, each on a desktop address of its
// own.
class TestVqsBroker : public QObject
{
    Q_OBJECT

public:
    explicit TestVqsBroker(BrokerNode *broker) : m_broker(broker) {}

private slots:
    void initTestCase()
    {
        QVERIFY2(m_broker->isValid(), qPrintable(m_broker->errorString()));
        QVERIFY(m_files.isValid());
        m_server = m_broker->settingsFor(BrokerNode::ServerAddress);
    }

    void settingsFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("read");
        // broker address exchange server-exchange server max-length
        QTest::addColumn<QString>("summary");

        const QByteArray broker = "transport = amqp\naddress = 10.0.0.2\n";
        QTest::newRow("broker") << broker << 0600 << true
                                << "1 10.0.0.2 corvane corvane.server 0 10000";
        QTest::newRow("comments, blanks and a later line winning")
            << QByteArray("# the desk\n\n  transport=amqp  \n; old\naddress = 10.0.0.1\n"
                          "address = 10.0.0.2\nexchange = fleet\nqueue_max_length = 50\n")
            << 0600 << true << "1 10.0.0.2 fleet corvane.server 0 50";
        QTest::newRow("the catalog server's account")
            << broker + "role = server\nserver_exchange = fleet.in\n"
            << 0600 << true << "1 10.0.0.2 corvane fleet.in 1 10000";
        QTest::newRow("bad values keep the defaults")
            << broker + "address = desk-2\nqueue_max_length = -1\ntransport = pigeon\nrole = boss\n"
            << 0600 << true << "1 10.0.0.2 corvane corvane.server 0 10000";
        QTest::newRow("unknown keys and lines are skipped")
            << broker + "colour = blue\njust words\n"
            << 0644 << true << "1 10.0.0.2 corvane corvane.server 0 10000";
        // Frames end up in root commands: whoever may change the file could send them.
        QTest::newRow("writable by the group")
            << broker << 0660 << false << "0  corvane corvane.server 0 10000";
        QTest::newRow("writable by everyone")
            << broker << 0646 << false << "0  corvane corvane.server 0 10000";
    }

    void settingsFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, mode);
        QFETCH(bool, read);
        QFETCH(QString, summary);
        QFile file(m_files.filePath("settings.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(text), text.size());
        file.close();
        QVERIFY(chmod(qPrintable(file.fileName()), mode_t(mode)) == 0);
        struct vqs_settings settings;
        QCOMPARE(vqs_settings_load(qPrintable(file.fileName()), &settings) == 0, read);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6")
                     .arg(settings.broker)
                     .arg(QString::fromLatin1(settings.address),
                          QString::fromLatin1(settings.exchange),
                          QString::fromLatin1(settings.server_exchange))
                     .arg(settings.server)
                     .arg(settings.max_length),
                 summary);
    }

    // The broker hands a message out again until its receiver has come back for the next.
    void unacknowledgedMessageComesAgain()
    {
        const QString desk = m_broker->freshAddress();
        const QString settings = m_broker->settingsFor(desk);
        QCOMPARE(receiveInPeer(settings, 0), QStringList()); // the set-up made its queue
        QCOMPARE(runPeer({"send", desk, "first", "second"}, withSettings(m_server)).exitCode, 0);
        QCOMPARE(receiveInPeer(settings, 1), QStringList{"5 first"});
        QCOMPARE(receiveInPeer(settings, 1), QStringList{"5 first"});
        QCOMPARE(receiveInPeer(settings, 2), (QStringList{"5 first", "6 second"}));
        QCOMPARE(receiveInPeer(settings, 1), QStringList{"6 second"});
    }

    // What the broker cannot take yet is held up to the backlog; what goes beyond it, and what
    // is still held when the program ends, is dropped and said so.
    void backlogIsBounded()
    {
        const QString settings = m_broker->settingsFor(
            m_broker->freshAddress(),
            {QStringLiteral("url = amqp://127.0.0.1:%1/corvane").arg(freePort()), "backlog = 3"});
        const PeerRun run = runPeer({"send", BrokerNode::ServerAddress, "1", "2", "3", "4", "5"},
                                    withSettings(settings));
        // The peer ends by itself, counting the two refused messages as failures.
        QCOMPARE(run.exitCode, 1);
        const QStringList lines = run.errors.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.filter(" dropped: 3 messages wait for the broker").size(), 2);
        QCOMPARE(lines.filter(" dropped: the program ended before the broker took it").size(), 3);
        QCOMPARE(lines.filter("cannot connect").size(), 1);
    }

    // A desktop's messages go out together; the one the broker refuses is dropped alone and
    // the others arrive once each, in order.
    void refusedMessageLeavesTheOthers()
    {
        const QString server = BrokerNode::ServerAddress;
        QCOMPARE(receiveInPeer(m_server, 0), QStringList());
        QCOMPARE(m_broker->ctl({"purge_queue", "-p", "corvane", server}).exitCode, 0);
        const PeerRun run = runPeer({"pairs", server, "first", m_broker->freshAddress(), "forged",
                                     server, "second", server, "third"},
                                    withSettings(m_broker->settingsFor(m_broker->freshAddress())));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.errors.count("dropped: refused by the broker (ACCESS_REFUSED"), 1);
        QCOMPARE(receiveInPeer(m_server, 3), (QStringList{"5 first", "6 second", "5 third"}));
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

    // A group's desktop has no queue until the catalog server makes it: its receiver says so
    // once, goes on trying, and takes what comes once the queue is there.
    void receiverWaitsForItsQueue()
    {
        const QString desk = m_broker->groupAddress();
        QProcess peer;
        peer.setProcessEnvironment(withSettings(m_broker->settingsFor(desk)));
        peer.start(VQS_PEER_PROGRAM, {"from", "1"});
        QString errors;
        QTRY_VERIFY_WITH_TIMEOUT((errors += QString::fromUtf8(peer.readAllStandardError()))
                                     .contains("does not exist yet"),
                                 kWaitMs);
        const PeerRun made = runPeer({"queue", desk}, withSettings(m_server));
        QVERIFY2(made.exitCode == 0, qPrintable(made.errors));
        QCOMPARE(runPeer({"send", desk, "made"}, withSettings(m_server)).exitCode, 0);
        QVERIFY(peer.waitForFinished(kWaitMs));
        QCOMPARE(QString::fromUtf8(peer.readAllStandardOutput()),
                 QStringLiteral("init -1\n4 [catalog-server] made\n"));
        errors += QString::fromUtf8(peer.readAllStandardError());
        QCOMPARE(errors.count("does not exist yet"), 1);
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

    void tlsVerifiesTheBroker_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("brokerAuthority");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("the broker's certificate authority") << "localhost" << true << true;
        QTest::newRow("another certificate authority") << "localhost" << false << false;
        QTest::newRow("address not in the certificate") << "127.0.0.1" << true << false;
    }

    void tlsVerifiesTheBroker()
    {
        QFETCH(QString, host);
        QFETCH(bool, brokerAuthority);
        QFETCH(bool, delivered);
        const QString desk = m_broker->freshAddress();
        const QString settings = m_broker->settingsFor(desk);
        QCOMPARE(receiveInPeer(settings, 0), QStringList());
        QStringList extra{
            QStringLiteral("url = amqps://%1:%2/corvane").arg(host, m_broker->value("AMQPS_PORT"))};
        if (!brokerAuthority) {
            const QString key = m_files.filePath("other.key");
            const QString authority = m_files.filePath("other.pem");
            QCOMPARE(ProcessRunner::run("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes",
                                                    "-days", "1", "-subj", "/CN=other", "-keyout",
                                                    key, "-out", authority})
                         .exitCode,
                     0);
            extra << "cacert = " + authority;
        }
        const PeerRun run =
            runPeer({"send", desk, "over TLS"},
                    withSettings(m_broker->settingsFor(BrokerNode::ServerAddress, extra)));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.errors.contains("verification failed"), !delivered);
        // The peer ended once the broker had its message, so that comes before this one.
        QCOMPARE(runPeer({"send", desk, "after TLS"}, withSettings(m_server)).exitCode, 0);
        const QStringList expected =
            delivered ? QStringList{"8 over TLS", "9 after TLS"} : QStringList{"9 after TLS"};
        QCOMPARE(receiveInPeer(settings, expected.size()), expected);
    }

private:
    // A plain AMQP client logged in as the account of address.
    std::unique_ptr<AmqpClient> client(const QString &address)
    {
        return std::make_unique<AmqpClient>(m_broker->value("AMQP_PORT").toInt(), "corvane",
                                            m_broker->account(address),
                                            m_broker->password(address));
    }

    BrokerNode *m_broker;
    QTemporaryDir m_files;
    QString m_server; // settings of the catalog server's account
};

QObject *makeBrokerTest(BrokerNode *broker)
{
    return new TestVqsBroker(broker);
}

#include "tst_vqsbroker.moc"
