#include "receiver.h"
#include "tests/support/brokernode.h"
#include "vqs.h"
#include "vqsallow.h"
#include "vqstesting.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <thread>
#include <vector>

using namespace VqsTesting;

namespace
{

// Direct TCP, the broker, a broker that cannot be reached, and no address of its own there.
enum Transport { Tcp, Broker, NoBroker, NoAddress };

// Each row of a test, once on each transport.
template <typename Rows> void onBothTransports(Rows rows)
{
    rows(Tcp, "tcp");
    rows(Broker, "broker");
}

} // namespace

class TestVqs : public QObject
{
    Q_OBJECT

public:
    explicit TestVqs(BrokerNode *broker) : m_broker(broker) {}

private slots:
    void initTestCase()
    {
        qunsetenv("VQS_BIND");
        qunsetenv("VQS_ALLOW");
        QVERIFY(m_files.isValid());
        m_settings[Tcp] = writeSettings("tcp.conf", "transport = tcp\n");
        qputenv("VQS_CONFIG", m_settings[Tcp].toUtf8());
        m_port = freePort();
        usePort(m_port);
        QCOMPARE(vqs_message_recv_init(), 0);
        m_receiver.start();

        QVERIFY2(m_broker->isValid(), qPrintable(m_broker->errorString()));
        m_own = m_broker->freshAddress();
        m_settings[Broker] = m_broker->settingsFor(m_own);
        m_settings[NoBroker] = m_broker->settingsFor(
            m_own, {QStringLiteral("url = amqp://127.0.0.1:%1/corvane").arg(freePort())});
        m_server = m_broker->settingsFor(BrokerNode::ServerAddress);
        m_settings[NoAddress] = writeSettings("noaddress.conf", "transport = amqp\n");
    }

    void cleanupTestCase() { m_receiver.stop(m_transport != Tcp, m_port); }

    // Every test leaves nothing behind: the next message is this marker. The next starts on
    // direct TCP.
    void cleanup()
    {
        usePort(m_port);
        const QByteArray marker = "tst-vqs: end of " + QByteArray(QTest::currentTestFunction());
        QCOMPARE(vqs_message_send("127.0.0.1", marker.constData()), 0);
        QCOMPARE(toList(m_receiver.take(1)), QStringList{QString::fromLatin1(marker)});
        useTransport(Tcp);
    }

    void peerAllowed_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QStringList>("contacted");
        QTest::addColumn<QByteArray>("allow");
        QTest::addColumn<bool>("allowed");

        const QStringList none;
        const QByteArray unset;
        QTest::newRow("loopback") << "127.0.0.1" << none << unset << true;
        QTest::newRow("second loopback address") << "127.0.0.2" << none << unset << true;
        QTest::newRow("top of loopback") << "127.255.255.254" << none << unset << true;
        QTest::newRow("below loopback") << "126.255.255.255" << none << unset << false;
        QTest::newRow("above loopback") << "128.0.0.1" << none << unset << false;
        QTest::newRow("unspecified") << "0.0.0.0" << none << unset << false;
        QTest::newRow("stranger") << "192.0.2.7" << none << unset << false;
        QTest::newRow("contacted")
            << "192.0.2.7" << QStringList{"10.0.0.1", "192.0.2.7"} << unset << true;
        QTest::newRow("other contacted")
            << "192.0.2.7" << QStringList{"192.0.2.8"} << unset << false;
        QTest::newRow("listed alone") << "192.0.2.7" << none << QByteArray("192.0.2.7") << true;
        QTest::newRow("listed among others")
            << "192.0.2.7" << none << QByteArray("10.0.0.1,192.0.2.7,10.0.0.2") << true;
        QTest::newRow("listed with blanks")
            << "192.0.2.7" << none << QByteArray(" 10.0.0.1 , 192.0.2.7 ") << true;
        QTest::newRow("malformed entries around")
            << "192.0.2.7" << none << QByteArray(",,garbage,192.0.2.7,") << true;
        QTest::newRow("longer address listed")
            << "192.0.2.7" << none << QByteArray("192.0.2.70") << false;
        QTest::newRow("shorter address listed")
            << "192.0.2.70" << none << QByteArray("192.0.2.7") << false;
        QTest::newRow("list run together")
            << "192.0.2.7" << none << QByteArray("10.0.0.1 192.0.2.7") << false;
        QTest::newRow("empty list") << "192.0.2.7" << none << QByteArray("") << false;
    }

    void peerAllowed()
    {
        QFETCH(QString, peer);
        QFETCH(QStringList, contacted);
        QFETCH(QByteArray, allow);
        QFETCH(bool, allowed);

        std::vector<in_addr> sent;
        for (const QString &text : contacted)
            sent.push_back(address(text));
        const int result = vqs_peer_allowed(address(peer), sent.data(), sent.size(),
                                            allow.isNull() ? nullptr : allow.constData());
        QCOMPARE(result != 0, allowed);
    }

    void messageArrivesUnchanged_data()
    {
        QTest::addColumn<int>("transport");
        QTest::addColumn<QByteArray>("text");

        QByteArray largest(VQS_MAX_MESSAGE, '\0');
        for (int i = 0; i < largest.size(); i++)
            largest[i] = char('a' + i % 26);
        onBothTransports([&](int transport, const char *name) {
            auto row = [&](const char *what) {
                return &(QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(name, what)))
                         << transport);
            };
            *row("empty") << QByteArray("");
            *row("one byte") << QByteArray("x");
            *row("frame with its newline") << QByteArray(
                "<?xml version=\"1.0\"?><frame type=\"join_requ\" ip=\"127.0.0.1\"/>\n");
            *row("chinese text") << QByteArray("办公软件\t文字处理 \"引号\" '单引号'\r\n");
            *row("largest allowed") << largest;
        });
    }

    void messageArrivesUnchanged()
    {
        QFETCH(int, transport);
        QFETCH(QByteArray, text);
        useTransport(transport);

        QVERIFY(sendToSelf({text}));
        const std::vector<std::string> got = m_receiver.take(1);
        QCOMPARE(got.size(), size_t(1));
        QCOMPARE(QByteArray::fromStdString(got[0]), text);
    }

    void thousandMessagesInOrder_data() { transportColumn(); }

    void thousandMessagesInOrder()
    {
        QFETCH(int, transport);
        useTransport(transport);
        QStringList sent;
        QByteArrayList texts;
        for (int i = 0; i < 1000; i++) {
            sent << QStringLiteral("message %1").arg(i);
            texts << sent.last().toLatin1();
        }
        QVERIFY(sendToSelf(texts));
        QCOMPARE(toList(m_receiver.take(1000)), sent);
    }

    void severalSendersEachInOrder_data() { transportColumn(); }

    void severalSendersEachInOrder()
    {
        QFETCH(int, transport);
        useTransport(transport);
        const int senders = 4;
        const int each = 250;
        if (transport == Tcp) {
            std::vector<std::thread> threads;
            std::vector<int> failures(senders, 0);
            for (int s = 0; s < senders; s++) {
                threads.emplace_back([s, &failures] {
                    for (int i = 0; i < each; i++) {
                        const std::string text =
                            "sender " + std::to_string(s) + " " + std::to_string(i);
                        if (vqs_message_send("127.0.0.1", text.c_str()) != 0)
                            failures[s]++;
                    }
                });
            }
            for (std::thread &thread : threads)
                thread.join();
            QCOMPARE(failures, std::vector<int>(senders, 0));
        } else {
            QCOMPARE(runPeer({"threads", m_own, QString::number(senders), QString::number(each)},
                             peerEnvironment(m_server))
                         .exitCode,
                     0);
        }

        const QStringList got = toList(m_receiver.take(senders * each));
        QCOMPARE(got.size(), senders * each);
        for (int s = 0; s < senders; s++) {
            const QString prefix = QStringLiteral("sender %1 ").arg(s);
            QStringList expected;
            for (int i = 0; i < each; i++)
                expected << prefix + QString::number(i);
            QCOMPARE(got.filter(prefix), expected);
        }
    }

    void overlongMessageRefusedWhole_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("one byte too long") << VQS_MAX_MESSAGE + 1;
        QTest::newRow("one mebibyte") << 1024 * 1024;
    }

    void overlongMessageRefusedWhole()
    {
        QFETCH(int, size);

        const QByteArray text(size, 'z');
        QCOMPARE(vqs_message_send("127.0.0.1", text.constData()), -1);
        QCOMPARE(vqs_message_send("127.0.0.1", "after the long one"), 0);
        QCOMPARE(toList(m_receiver.take(1)), QStringList{"after the long one"});
    }

    void malformedDestinationRefused_data()
    {
        QTest::addColumn<QByteArray>("dest");
        QTest::newRow("none") << QByteArray();
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("host name") << QByteArray("localhost");
        QTest::newRow("octet too large") << QByteArray("127.0.0.256");
        QTest::newRow("three octets") << QByteArray("127.0.1");
        QTest::newRow("trailing blank") << QByteArray("127.0.0.1 ");
        QTest::newRow("with port") << QByteArray("127.0.0.1:7788");
        QTest::newRow("ipv6") << QByteArray("::1");
    }

    void malformedDestinationRefused()
    {
        QFETCH(QByteArray, dest);
        QCOMPARE(vqs_message_send(dest.isNull() ? nullptr : dest.constData(), "lost"), -1);
    }

    void missingTextRefused() { QCOMPARE(vqs_message_send("127.0.0.1", nullptr), -1); }

    void unreachableDestinationHoldsNothingUp_data()
    {
        QTest::addColumn<QByteArray>("dest");
        QTest::addColumn<int>("nowhere");
        QTest::newRow("closed port on loopback") << QByteArray("127.0.0.1") << int(ClosedPort);
        // Only this one waits out the connect timeout wherever the tests run.
        QTest::newRow("listener that never answers")
            << QByteArray("127.0.0.1") << int(SilentListener);
        QTest::newRow("address nobody answers") << QByteArray("198.51.100.1") << int(FarAddress);
    }

    void unreachableDestinationHoldsNothingUp()
    {
        QFETCH(QByteArray, dest);
        QFETCH(int, nowhere);

        std::pair<int, int> silent{-1, -1};
        if (nowhere == ClosedPort)
            usePort(freePort());
        if (nowhere == SilentListener) {
            const unsigned short port = freePort();
            silent = fullListener(port);
            QVERIFY(silent.first >= 0 && silent.second >= 0);
            usePort(port);
        }
        QCOMPARE(vqs_message_send(dest.constData(), "to nowhere 1"), 0);
        QCOMPARE(vqs_message_send(dest.constData(), "to nowhere 2"), 0);
        usePort(m_port);
        QCOMPARE(vqs_message_send("127.0.0.1", "still delivered"), 0);
        const QStringList got = toList(m_receiver.take(1));
        for (int fd : {silent.second, silent.first}) {
            if (fd >= 0)
                close(fd);
        }
        QCOMPARE(got, QStringList{"still delivered"});
    }

    void brokenStreamDeliversNothingFalse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("delivered");

        QTest::newRow("one byte too long")
            << QByteArray::fromHex("00010000") + QByteArray(VQS_MAX_MESSAGE + 1, 'y')
            << QStringList();
        QTest::newRow("announces four gibibytes")
            << QByteArray::fromHex("ffffffff") + QByteArray("abc") << QStringList();
        QTest::newRow("ends inside the length") << QByteArray::fromHex("0000") << QStringList();
        QTest::newRow("ends inside the text")
            << QByteArray::fromHex("0000000a") + QByteArray("hello") << QStringList();
        QTest::newRow("whole message, then one cut short")
            << framed("whole") + QByteArray::fromHex("00000005") + QByteArray("ab")
            << QStringList{"whole"};
        QTest::newRow("whole message, then too long")
            << framed("whole") + QByteArray::fromHex("00010000") << QStringList{"whole"};
        // The frame would end at the NUL; the one after it still counts.
        QTest::newRow("NUL inside, then a whole message")
            << framed(QByteArray("ab\0cd", 5)) + framed("whole") << QStringList{"whole"};
    }

    void brokenStreamDeliversNothingFalse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, delivered);

        const int fd = rawConnect("127.0.0.1", m_port);
        QVERIFY(fd >= 0);
        rawWrite(fd, bytes); // the receiver may close before taking it all
        const bool closed = closedByReceiver(fd);
        close(fd);
        QVERIFY(closed);
        QCOMPARE(toList(m_receiver.take(delivered.size())), delivered);
    }

    void peersOutsideLoopback()
    {
        const QString own = ownOutsideAddress();
        if (own.isEmpty())
            QSKIP("this host has no IPv4 address outside loopback");

        // Connecting to our own outside address makes it the source address as well.
        int fd = rawConnect(own, m_port);
        QVERIFY(fd >= 0);
        rawWrite(fd, framed("from a stranger")); // may meet the close already
        bool closed = closedByReceiver(fd);
        close(fd);
        QVERIFY(closed);
        QCOMPARE(vqs_message_send("127.0.0.1", "after the stranger"), 0);
        QCOMPARE(toList(m_receiver.take(1)), QStringList{"after the stranger"});

        qputenv("VQS_ALLOW", "10.0.0.1," + own.toLatin1());
        restartReceiver();
        qunsetenv("VQS_ALLOW");
        fd = rawConnect(own, m_port);
        QVERIFY(fd >= 0);
        QVERIFY(rawWrite(fd, framed("from a listed peer")));
        closed = closedByReceiver(fd);
        close(fd);
        QVERIFY(closed);
        QCOMPARE(toList(m_receiver.take(1)), QStringList{"from a listed peer"});
        restartReceiver();

        // The store tells itself to stop through its own address.
        QCOMPARE(vqs_message_send(own.toLatin1().constData(), "to our own address"), 0);
        QCOMPARE(toList(m_receiver.take(1)), QStringList{"to our own address"});
    }

    void restartedReceiverGetsLaterMessages()
    {
        QCOMPARE(vqs_message_send("127.0.0.1", "before the restart"), 0);
        QCOMPARE(toList(m_receiver.take(1)), QStringList{"before the restart"});
        restartReceiver();
        QCOMPARE(vqs_message_send("127.0.0.1", "after the restart"), 0);
        QCOMPARE(toList(m_receiver.take(1)), QStringList{"after the restart"});
    }

    void exitingSenderStillDelivers()
    {
        QProcess peer;
        peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VQS_PORT", QString::number(m_port));
        peer.setProcessEnvironment(env);
        peer.start(VQS_PEER_PROGRAM, {"send", "127.0.0.1", "peer 1", "peer 2", "peer 3"});
        QVERIFY(peer.waitForFinished(kWaitMs));
        QCOMPARE(peer.exitCode(), 0);
        QCOMPARE(toList(m_receiver.take(3)), (QStringList{"peer 1", "peer 2", "peer 3"}));
    }

    void receiverBoundToOneAddress()
    {
        const unsigned short port = freePort();
        QProcess peer;
        peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VQS_PORT", QString::number(port));
        env.insert("VQS_BIND", "127.0.0.2");
        peer.setProcessEnvironment(env);
        peer.start(VQS_PEER_PROGRAM, {"recv", "2"});
        QVERIFY(peer.waitForReadyRead(kWaitMs));
        QCOMPARE(peer.readLine(), QByteArray("init 0\n"));

        usePort(port);
        QCOMPARE(vqs_message_send("127.0.0.1", "not for that address"), 0);
        QCOMPARE(vqs_message_send("127.0.0.2", "bound 1"), 0);
        QCOMPARE(vqs_message_send("127.0.0.2", "bound 2"), 0);
        usePort(m_port);
        QVERIFY(peer.waitForFinished(kWaitMs));
        QCOMPARE(peer.readAll(), QByteArray("7 bound 1\n7 bound 2\n"));
    }

    void receiverCannotStart_data()
    {
        QTest::addColumn<bool>("portTaken");
        QTest::addColumn<QString>("bind");
        QTest::newRow("port already taken") << true << QString();
        QTest::newRow("bind address not an address") << false << "all";
    }

    void receiverCannotStart()
    {
        QFETCH(bool, portTaken);
        QFETCH(QString, bind);

        QProcess peer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VQS_PORT", QString::number(portTaken ? m_port : freePort()));
        if (!bind.isEmpty())
            env.insert("VQS_BIND", bind);
        peer.setProcessEnvironment(env);
        peer.start(VQS_PEER_PROGRAM, {"recv", "1"});
        QVERIFY(peer.waitForFinished(kWaitMs));
        QCOMPARE(peer.readAllStandardOutput(), QByteArray("init -1\n-1 \n"));
        QVERIFY(!peer.readAllStandardError().isEmpty());
    }

    void refusedSettingsUseNoTransport_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("mode");
        QTest::newRow("broker settings others may change")
            << QByteArray("transport = amqp\naddress = 10.0.0.2\n") << 0664;
        QTest::newRow("misspelt key")
            << QByteArray("transprt = amqp\naddress = 10.0.0.2\n") << 0600;
    }

    // Whoever may change the file chose no transport: direct TCP is not taken instead, either
    // way.
    void refusedSettingsUseNoTransport()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, mode);
        const QString settings = writeSettings("refused.conf", text);
        QVERIFY(chmod(qPrintable(settings), mode_t(mode)) == 0);
        const unsigned short port = freePort();
        QProcessEnvironment env = withSettings(settings);
        env.insert("VQS_PORT", QString::number(port));
        QProcess receiver;
        receiver.setProcessEnvironment(env);
        receiver.start(VQS_PEER_PROGRAM, {"recv", "1"});
        QVERIFY(receiver.waitForReadyRead(kWaitMs));
        QCOMPARE(receiver.readLine(), QByteArray("init -1\n"));
        const int fd = rawConnect("127.0.0.1", port);
        if (fd >= 0)
            close(fd);
        receiver.kill();
        receiver.waitForFinished();
        QCOMPARE(fd, -1);
        QVERIFY(receiver.readAllStandardError().contains(" refused"));

        // Sent to this process's port, so cleanup's marker would come second.
        env.insert("VQS_PORT", QString::number(m_port));
        const PeerRun sent = runPeer({"send", "127.0.0.2", "not over TCP"}, env);
        QCOMPARE(sent.exitCode, 1);
        QVERIFY(sent.errors.contains("refused"));
    }

    void secondInitRefusedWhileReceiving_data() { transportColumn(); }

    // The receiving thread waits in vqs_message_recv: its state is not freed under it.
    void secondInitRefusedWhileReceiving()
    {
        QFETCH(int, transport);
        useTransport(transport);
        QTRY_COMPARE(vqs_message_recv_init(), -1);
        QVERIFY(sendToSelf({"after the second init"}));
        QCOMPARE(toList(m_receiver.take(1)), QStringList{"after the second init"});
    }

    void selfReplayInOrder_data()
    {
        transportColumn();
        QTest::newRow("broker out of reach") << int(NoBroker);
        QTest::newRow("no address on the broker") << int(NoAddress);
    }

    // File mode and the push-file poller replay lines to 127.0.0.1, and the store stops its
    // receiver through its own address: neither needs the broker.
    void selfReplayInOrder()
    {
        QFETCH(int, transport);
        useTransport(transport);
        const QByteArray own =
            transport == Tcp || transport == NoAddress ? "127.0.0.1" : m_own.toLatin1();
        QStringList sent;
        for (int i = 0; i < 20; i++) {
            sent << QStringLiteral("line %1").arg(i);
            QCOMPARE(vqs_message_send(i % 2 ? own.constData() : "127.0.0.1",
                                      sent.last().toLatin1().constData()),
                     0);
        }
        QCOMPARE(toList(m_receiver.take(20)), sent);
    }

private:
    enum Nowhere { ClosedPort, SilentListener, FarAddress };

    void restartReceiver()
    {
        m_receiver.stop(m_transport != Tcp, m_port);
        const int bound = vqs_message_recv_init();
        m_receiver.start();
        QCOMPARE(bound, 0);
    }

    static void transportColumn()
    {
        QTest::addColumn<int>("transport");
        onBothTransports([](int transport, const char *name) { QTest::newRow(name) << transport; });
    }

    // Receives on the transport from now on.
    void useTransport(int transport)
    {
        if (transport == m_transport)
            return;
        m_receiver.stop(m_transport != Tcp, m_port);
        qputenv("VQS_CONFIG", m_settings[transport].toUtf8());
        const int bound = vqs_message_recv_init();
        m_receiver.start();
        m_transport = transport;
        QCOMPARE(bound, transport == NoBroker || transport == NoAddress ? -1 : 0);
    }

    QString writeSettings(const QString &name, const QByteArray &text)
    {
        QFile file(m_files.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() ||
            !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

    QProcessEnvironment peerEnvironment(const QString &settings) const
    {
        QProcessEnvironment env = withSettings(settings);
        env.insert("VQS_PORT", QString::number(m_port));
        return env;
    }

    // Sends texts to this process's receiver: itself over direct TCP, and through the broker
    // from the catalog server's account in a peer.
    bool sendToSelf(const QByteArrayList &texts)
    {
        if (m_transport != Tcp) {
            QStringList arguments{"send", m_own};
            for (const QByteArray &text : texts)
                arguments << QString::fromUtf8(text);
            return runPeer(arguments, peerEnvironment(m_server)).exitCode == 0;
        }
        for (const QByteArray &text : texts) {
            if (vqs_message_send("127.0.0.1", text.constData()) != 0)
                return false;
        }
        return true;
    }

    unsigned short m_port = 0;
    Receiver m_receiver;
    int m_transport = Tcp;
    QTemporaryDir m_files;
    QString m_settings[4];
    BrokerNode *m_broker;
    QString m_own;    // this process's address on the broker
    QString m_server; // settings of the catalog server's account
};

QObject *makeTransportTest(BrokerNode *broker)
{
    return new TestVqs(broker);
}

#include "tst_vqs.moc"
