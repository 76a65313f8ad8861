#include "tests/support/brokernode.h"
#include "tests/support/processrunner.h"
#include "vqstesting.h"

#include <QTemporaryDir>
#include <QTest>

using namespace VqsTesting;

// The broker over TLS: a peer delivers only to a broker whose certificate its authority signed
// for the host it named.
class TestVqsBrokerTls : public QObject
{
    Q_OBJECT

public:
    explicit TestVqsBrokerTls(BrokerNode *broker) : m_broker(broker) {}

private slots:
    void initTestCase()
    {
        QVERIFY2(m_broker->isValid(), qPrintable(m_broker->errorString()));
        QVERIFY(m_files.isValid());
        m_server = m_broker->settingsFor(BrokerNode::ServerAddress);
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
    BrokerNode *m_broker;
    QTemporaryDir m_files;
    QString m_server; // settings of the catalog server's account
};

QObject *makeBrokerTlsTest(BrokerNode *broker)
{
    return new TestVqsBrokerTls(broker);
}

#include "tst_vqsbrokertls.moc"
