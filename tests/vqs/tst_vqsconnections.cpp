#include "vqs.h"
#include "vqstesting.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

using namespace VqsTesting;

namespace
{

// A connection to the loopback receiver on port from the loopback address source.
int connectFrom(const QString &source, unsigned short port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = address(source);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    sa.sin_port = htons(port);
    sa.sin_addr = address("127.0.0.1");
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0)
        return fd;
    close(fd);
    return -1;
}

// The receiver ended the connection by itself (our side still open).
bool closedByPeer(int fd, int waitMs)
{
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, waitMs) != 1)
        return false;
    char byte;
    const ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

// One framed message read from fd, "" when none comes whole.
QByteArray readFramed(int fd)
{
    QByteArray bytes;
    quint32 length = 0;
    while (bytes.size() < 4 || bytes.size() < 4 + int(length)) {
        pollfd p{fd, POLLIN, 0};
        char chunk[512];
        const int want = bytes.size() < 4 ? 4 - bytes.size() : 4 + int(length) - bytes.size();
        if (poll(&p, 1, kWaitMs) != 1)
            return QByteArray();
        const ssize_t n = read(fd, chunk, size_t(std::min<int>(want, sizeof chunk)));
        if (n <= 0)
            return QByteArray();
        bytes.append(chunk, int(n));
        if (bytes.size() == 4) {
            memcpy(&length, bytes.constData(), 4);
            length = ntohl(length);
        }
    }
    return bytes.mid(4);
}

int acceptOne(int listener)
{
    pollfd p{listener, POLLIN, 0};
    return poll(&p, 1, kWaitMs) == 1 ? accept(listener, nullptr, nullptr) : -1;
}

} // namespace

// What a direct TCP receiver does with many, idle and slow connections, and what its sender
// does when a connection is closed under it.
class TestVqsConnections : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
        m_tcp = m_files.filePath("tcp.conf");
        QVERIFY(writeFile(m_tcp, "transport = tcp\n"));
    }

    void cleanup()
    {
        if (m_peer.state() != QProcess::NotRunning) {
            m_peer.kill();
            m_peer.waitForFinished();
        }
        for (int fd : m_links)
            close(fd);
        m_links.clear();
    }

    void idleCrowd_data()
    {
        QTest::addColumn<int>("addresses"); // 127.0.10.1 and on; 0: the sender's own, 127.0.0.1
        QTest::addColumn<int>("connections");
        QTest::addColumn<int>("closed"); // the first ones, which the receiver closes
        QTest::newRow("ten addresses within their bound") << 10 << 300 << 0;
        // As the catalog server's stop word meets a local account's crowd: the oldest go, 36 for
        // the crowd beyond the default bound of an address (64) and one for the sender.
        QTest::newRow("the sender's own address beyond its bound") << 0 << 100 << 37;
    }

    // Hundreds of connections that never send keep no message out; within the bounds none is
    // cut.
    void idleCrowd()
    {
        QFETCH(int, addresses);
        QFETCH(int, connections);
        QFETCH(int, closed);
        QVERIFY(startReceiver(2, {}));
        for (int i = 0; i < connections; ++i) {
            const QString source = addresses ? QStringLiteral("127.0.%1.1").arg(10 + i % addresses)
                                             : QStringLiteral("127.0.0.1");
            m_links.push_back(connectFrom(source, m_port));
            QVERIFY2(m_links.back() >= 0, strerror(errno));
        }
        usePort(m_port);
        QCOMPARE(vqs_message_send("127.0.0.1", "through the crowd"), 0);
        QCOMPARE(nextLine(), QString("17 through the crowd"));
        for (int i = 0; i < connections; ++i)
            QCOMPARE(closedByPeer(m_links[size_t(i)], i < closed ? kWaitMs : 0), i < closed);
        QCOMPARE(vqs_message_send("127.0.0.1", "end"), 0);
        QCOMPARE(nextLine(), QString("3 end"));
    }

    void deadlines_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("delivered"); // before the connection is closed
        QTest::newRow("a message cut short")
            << "VQS_MESSAGE_TIMEOUT" << QByteArray::fromHex("0000000a") + "abc" << QString();
        QTest::newRow("an idle connection") << "VQS_CONNECTION_IDLE" << QByteArray() << QString();
        QTest::newRow("idle after a whole message")
            << "VQS_CONNECTION_IDLE" << framed("whole") << QString("5 whole");
    }

    // A connection that stops part-way through a message, or says nothing, is closed at its
    // deadline; the receiver goes on with the others.
    void deadlines()
    {
        QFETCH(QString, setting);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, delivered);
        QVERIFY(startReceiver(delivered.isEmpty() ? 1 : 2, {{setting, "1"}}));
        const int fd = connectFrom("127.0.20.1", m_port);
        m_links.push_back(fd);
        QVERIFY(fd >= 0 && (bytes.isEmpty() || rawWrite(fd, bytes)));
        if (!delivered.isEmpty())
            QCOMPARE(nextLine(), delivered);
        QVERIFY(closedByPeer(fd, kWaitMs));
        const int next = connectFrom("127.0.20.1", m_port);
        m_links.push_back(next);
        QVERIFY(rawWrite(next, framed("next")));
        QCOMPARE(nextLine(), QString("4 next"));
    }

    void bounds_data()
    {
        QTest::addColumn<int>("perAddress");
        QTest::addColumn<int>("total");
        QTest::addColumn<QStringList>("sources"); // connected in this order, all idle
        QTest::addColumn<QList<int>>("closed");   // which of them the receiver closes
        QTest::newRow("one address at its bound")
            << 3 << 100
            << QStringList{"127.0.30.1", "127.0.30.1", "127.0.30.2", "127.0.30.1", "127.0.30.1"}
            << QList<int>{0};
        QTest::newRow("all at the bound")
            << 100 << 3 << QStringList{"127.0.30.1", "127.0.30.2", "127.0.30.3", "127.0.30.4"}
            << QList<int>{0};
        QTest::newRow("both bounds")
            << 2 << 3
            << QStringList{"127.0.30.1", "127.0.30.2", "127.0.30.1", "127.0.30.3", "127.0.30.1"}
            << QList<int>{0, 1};
    }

    // At a bound the connection idle the longest makes room: the newcomer is let in.
    void bounds()
    {
        QFETCH(int, perAddress);
        QFETCH(int, total);
        QFETCH(QStringList, sources);
        QFETCH(QList<int>, closed);
        // Two: it keeps the connections open after the one message it is sent.
        QVERIFY(startReceiver(2, {{"VQS_MAX_PER_ADDRESS", QString::number(perAddress)},
                                  {"VQS_MAX_CONNECTIONS", QString::number(total)}}));
        for (const QString &source : sources) {
            m_links.push_back(connectFrom(source, m_port));
            QVERIFY(m_links.back() >= 0);
        }
        QVERIFY(rawWrite(m_links.back(), framed("newest")));
        QCOMPARE(nextLine(), QString("6 newest"));
        for (int i = 0; i < int(sources.size()) - 1; ++i)
            QCOMPARE(closedByPeer(m_links[size_t(i)], closed.contains(i) ? kWaitMs : 0),
                     closed.contains(i));
    }

    void sentIntoClosedConnection_data()
    {
        QTest::addColumn<bool>("readFirst"); // the receiver read the first message
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QByteArrayList>("again"); // on the sender's next connection
        QTest::newRow("closed after reading it")
            << true << QByteArray("second") << QByteArrayList{"second"};
        QTest::newRow("closed with it unread")
            << false << QByteArray("second") << QByteArrayList{"first", "second"};
        QTest::newRow("closed with it unread, nothing after")
            << false << QByteArray() << QByteArrayList{"first"};
    }

    // A message the receiver closed its connection on unread goes out once more; one it read
    // does not come twice.
    void sentIntoClosedConnection()
    {
        QFETCH(bool, readFirst);
        QFETCH(QByteArray, second);
        QFETCH(QByteArrayList, again);
        const unsigned short port = freePort();
        const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        m_links.push_back(listener);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr = address("127.0.0.1");
        QVERIFY(bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 &&
                listen(listener, 8) == 0);
        usePort(port);
        // Nothing after: the sender looks again when its lane ends.
        if (second.isEmpty())
            qputenv("VQS_LANE_IDLE", "1");
        QCOMPARE(vqs_message_send("127.0.0.1", "first"), 0);
        qunsetenv("VQS_LANE_IDLE");
        const int first = acceptOne(listener);
        QVERIFY(first >= 0);
        if (readFirst) {
            QCOMPARE(readFramed(first), QByteArray("first"));
        } else {
            pollfd p{first, POLLIN, 0};
            QCOMPARE(poll(&p, 1, kWaitMs), 1);
        }
        close(first); // unread bytes make it a reset
        if (!second.isEmpty())
            QCOMPARE(vqs_message_send("127.0.0.1", second.constData()), 0);
        const int next = acceptOne(listener);
        m_links.push_back(next);
        QVERIFY(next >= 0);
        QByteArrayList got;
        for (int i = 0; i < again.size(); ++i)
            got << readFramed(next);
        QCOMPARE(got, again);
    }

private:
    // vqspeer receiving count messages on a port of its own, with extra settings.
    bool startReceiver(int count, const QList<QPair<QString, QString>> &settings)
    {
        m_port = freePort();
        QProcessEnvironment env = withSettings(m_tcp);
        env.insert("VQS_PORT", QString::number(m_port));
        env.remove("VQS_BIND");
        for (const auto &setting : settings)
            env.insert(setting.first, setting.second);
        m_peer.setProcessEnvironment(env);
        m_peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_peer.start(VQS_PEER_PROGRAM, {"recv", QString::number(count)});
        return nextLine() == QLatin1String("init 0");
    }

    QString nextLine()
    {
        while (!m_peer.canReadLine())
            if (!m_peer.waitForReadyRead(kWaitMs))
                return QString();
        return QString::fromUtf8(m_peer.readLine()).trimmed();
    }

    QTemporaryDir m_files;
    QString m_tcp;
    QProcess m_peer;
    unsigned short m_port = 0;
    std::vector<int> m_links;
};

QObject *makeConnectionsTest()
{
    return new TestVqsConnections;
}

#include "tst_vqsconnections.moc"
