#include "tests/support/brokernode.h"
#include "vqs.h"
#include "vqstesting.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace VqsTesting;

// What a direct TCP receiver learns of a message's connection, and what a sender holds for
// the destinations it has sent to.
class TestVqsLanes : public QObject
{
    Q_OBJECT

public:
    explicit TestVqsLanes(BrokerNode *broker) : m_broker(broker) {}

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
        m_tcp = m_files.filePath("tcp.conf");
        QVERIFY(writeFile(m_tcp, "transport = tcp\n"));
    }

    void receiverNamesThePeer_data()
    {
        QTest::addColumn<QString>("bind"); // the sender's VQS_BIND; "broker" goes through it
        QTest::addColumn<QString>("peer");
        QTest::newRow("any address, to loopback") << "0.0.0.0"
                                                  << "127.0.0.1";
        QTest::newRow("another loopback address") << "127.0.0.7"
                                                  << "127.0.0.7";
        // A loopback message never leaves from an outside address, listed or not.
        QTest::newRow("an outside address, to loopback") << "192.0.2.1"
                                                         << "127.0.0.1";
        QTest::newRow("through the broker") << "broker"
                                            << "";
    }

    // The address a message's connection came from, which the catalog server answers; what a
    // frame names is only a claim.
    void receiverNamesThePeer()
    {
        QFETCH(QString, bind);
        QFETCH(QString, peer);
        QVERIFY2(m_broker->isValid(), qPrintable(m_broker->errorString()));
        if (bind == QLatin1String("broker")) {
            const QString desk = m_broker->freshAddress();
            QProcessEnvironment env =
                withSettings(m_broker->settingsFor(BrokerNode::ServerAddress));
            QCOMPARE(runPeer({"send", desk, "via the broker"}, env).exitCode, 0);
            QCOMPARE(receiveInPeer(m_broker->settingsFor(desk), 1, "peer"),
                     QStringList{"14 [] via the broker"});
            return;
        }
        const unsigned short port = freePort();
        QProcessEnvironment env = withSettings(m_tcp);
        env.insert("VQS_PORT", QString::number(port));
        env.insert("VQS_BIND", "0.0.0.0");
        QProcess receiver;
        receiver.setProcessEnvironment(env);
        receiver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        receiver.start(VQS_PEER_PROGRAM, {"peer", "1"});
        QVERIFY(receiver.waitForReadyRead(kWaitMs));
        QCOMPARE(receiver.readLine(), QByteArray("init 0\n"));
        env.insert("VQS_BIND", bind);
        QCOMPARE(runPeer({"send", "127.0.0.5", "hello"}, env).exitCode, 0);
        QVERIFY(receiver.waitForFinished(kWaitMs));
        QCOMPARE(QString::fromLatin1(receiver.readAll()), "5 [" + peer + "] hello\n");
    }

    void sendersAreBoundedAndReaped_data()
    {
        QTest::addColumn<int>("maxLanes");
        QTest::addColumn<int>("idleSeconds");
        QTest::addColumn<int>("destinations");
        QTest::addColumn<bool>("reaped"); // waited for
        QTest::newRow("within the bound, reaped when idle") << 8 << 1 << 8 << true;
        QTest::newRow("far beyond the bound") << 4 << 600 << 300 << false;
        QTest::newRow("many destinations, reaped when idle") << 4096 << 1 << 300 << true;
    }

    // One peer naming many addresses costs a bounded number of sender threads, and those of
    // destinations no longer written to end.
    void sendersAreBoundedAndReaped()
    {
        QFETCH(int, maxLanes);
        QFETCH(int, idleSeconds);
        QFETCH(int, destinations);
        QFETCH(bool, reaped);
        QProcessEnvironment env = withSettings(m_tcp);
        env.insert("VQS_MAX_LANES", QString::number(maxLanes));
        env.insert("VQS_LANE_IDLE", QString::number(idleSeconds));
        // Nobody listens there: each message meets a closed port at once.
        const PeerRun run = runPeer({"spread", QString::number(freePort()),
                                     QString::number(destinations), reaped ? "1" : "0"},
                                    env);
        QCOMPARE(run.exitCode, 0);
        const QStringList threads = run.lines.filter(QRegularExpression("^threads "));
        QCOMPARE(threads.size(), 1);
        QVERIFY2(threads[0].mid(8).toInt() <= 1 + std::min(maxLanes, destinations),
                 qPrintable(threads[0]));
        // Every message refused at the bound is said in one line.
        const int refused =
            run.lines.filter(QRegularExpression("^refused ")).value(0).mid(8).toInt();
        QCOMPARE(run.errors.count("senders are busy"), refused);
        if (reaped)
            QVERIFY2(run.lines.contains("reaped 1"), qPrintable(run.lines.join('|')));
    }

    void contactedAreBounded_data()
    {
        QTest::addColumn<int>("others"); // addresses sent to after this host's outside one
        QTest::addColumn<bool>("letIn");
        QTest::newRow("sent to last") << 0 << true;
        QTest::newRow("sent to before 4096 others") << 4096 << false;
    }

    // A receiver lets in the addresses it has sent to, but keeps only the last 4096 of them.
    void contactedAreBounded()
    {
        QFETCH(int, others);
        QFETCH(bool, letIn);
        const QString own = ownOutsideAddress();
        if (own.isEmpty())
            QSKIP("this host has no IPv4 address outside loopback");
        const unsigned short port = freePort();
        QProcessEnvironment env = withSettings(m_tcp);
        env.insert("VQS_PORT", QString::number(port));
        env.insert("VQS_BIND", "0.0.0.0");
        env.insert("VQS_MAX_LANES", "8");
        QProcess receiver;
        receiver.setProcessEnvironment(env);
        receiver.setStandardErrorFile(QProcess::nullDevice());
        receiver.start(VQS_PEER_PROGRAM,
                       {"forget", own, QString::number(others), QString::number(freePort())});
        QVERIFY(receiver.waitForReadyRead(kWaitMs));
        QCOMPARE(receiver.readLine(), QByteArray("init 0\n"));
        // Connecting to our own outside address makes it the source address as well.
        const int fd = rawConnect(own, port);
        QVERIFY(fd >= 0);
        rawWrite(fd, framed("from afar")); // may meet the close already
        if (!letIn) {
            QVERIFY(closedByReceiver(fd));
            const int near = rawConnect("127.0.0.1", port);
            QVERIFY(rawWrite(near, framed("from near")));
            close(near);
        }
        QVERIFY(receiver.waitForFinished(kWaitMs));
        close(fd);
        QCOMPARE(receiver.readAll(),
                 letIn ? QByteArray("9 from afar\n") : QByteArray("9 from near\n"));
    }

private:
    BrokerNode *m_broker;
    QTemporaryDir m_files;
    QString m_tcp;
};

QObject *makeLanesTest(BrokerNode *broker)
{
    return new TestVqsLanes(broker);
}

#include "tst_vqslanes.moc"
