#include "vqs.h"
#include "vqsallow.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace
{

const char kStop[] = "tst-vqs: stop receiving";
// Only bounds a failing wait, so a lost message fails the test instead of hanging it.
const int kWaitMs = 30000;

unsigned short freePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof sa;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        qFatal("no free port: %s", strerror(errno));
    close(fd);
    return ntohs(sa.sin_port);
}

void usePort(unsigned short port)
{
    qputenv("VQS_PORT", QByteArray::number(port));
}

in_addr address(const QString &text)
{
    in_addr addr{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &addr) != 1)
        qFatal("bad address in test data: %s", qPrintable(text));
    return addr;
}

// An IPv4 address of this host outside loopback, or an empty string.
QString ownOutsideAddress()
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return QString();
    QString found;
    for (ifaddrs *i = list; i && found.isEmpty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
            (i->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(i->ifa_addr)->sin_addr, text,
                  sizeof text);
        found = QString::fromLatin1(text);
    }
    freeifaddrs(list);
    return found;
}

// A plain TCP client that speaks to the receiver without the library.
int rawConnect(const QString &host, unsigned short port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = address(host);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// A loopback listener whose accept queue is already full: later connection attempts meet
// silence, as with a host that drops them. Returns the listener and the connection holding
// the queue, or -1s.
std::pair<int, int> fullListener(unsigned short port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = address("127.0.0.1");
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        listen(fd, 0) != 0) {
        if (fd >= 0)
            close(fd);
        return {-1, -1};
    }
    return {fd, rawConnect("127.0.0.1", port)};
}

bool rawWrite(int fd, const QByteArray &bytes)
{
    return send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL) == bytes.size();
}

QByteArray framed(const QByteArray &text)
{
    const quint32 wire = htonl(text.size());
    return QByteArray(reinterpret_cast<const char *>(&wire), 4) + text;
}

// Ends our side of the stream and waits until the receiver has closed its side.
bool closedByReceiver(int fd)
{
    shutdown(fd, SHUT_WR);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kWaitMs) != 1)
        return false;
    char byte;
    const ssize_t n = read(fd, &byte, 1);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

QStringList toList(const std::vector<std::string> &texts)
{
    QStringList list;
    for (const std::string &text : texts)
        list << QString::fromStdString(text);
    return list;
}

// The receiving thread of the test process; it keeps what arrives in order.
class Receiver
{
public:
    void start()
    {
        m_thread = std::thread([this] { run(); });
    }

    // Told without the library, so that a sending fault cannot leave the thread waiting.
    void stop(unsigned short port)
    {
        const int fd = rawConnect("127.0.0.1", port);
        if (fd < 0 || !rawWrite(fd, framed(kStop)))
            qFatal("cannot stop the receiver: %s", strerror(errno));
        close(fd);
        m_thread.join();
    }

    std::vector<std::string> take(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_arrived.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                           [&] { return m_inbox.size() >= count; });
        std::vector<std::string> taken;
        while (taken.size() < count && !m_inbox.empty()) {
            taken.push_back(m_inbox.front());
            m_inbox.pop_front();
        }
        return taken;
    }

private:
    void run()
    {
        std::vector<char> buffer(VQS_MAX_MESSAGE + 1);
        for (;;) {
            const int len = vqs_message_recv(buffer.data());
            const std::string text =
                len < 0 ? std::string("(receive failed)") : std::string(buffer.data(), size_t(len));
            if (text == kStop)
                return;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_inbox.push_back(text);
            m_arrived.notify_all();
        }
    }

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<std::string> m_inbox;
};

} // namespace

class TestVqs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qunsetenv("VQS_BIND");
        qunsetenv("VQS_ALLOW");
        m_port = freePort();
        usePort(m_port);
        QCOMPARE(vqs_message_recv_init(), 0);
        m_receiver.start();
    }

    void cleanupTestCase() { m_receiver.stop(m_port); }

    // Every test leaves nothing behind: the next message is this marker.
    void cleanup()
    {
        usePort(m_port);
        const QByteArray marker = "tst-vqs: end of " + QByteArray(QTest::currentTestFunction());
        QCOMPARE(vqs_message_send("127.0.0.1", marker.constData()), 0);
        QCOMPARE(toList(m_receiver.take(1)), QStringList{QString::fromLatin1(marker)});
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
        QTest::addColumn<QByteArray>("text");

        QByteArray largest(VQS_MAX_MESSAGE, '\0');
        for (int i = 0; i < largest.size(); i++)
            largest[i] = char('a' + i % 26);
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("one byte") << QByteArray("x");
        QTest::newRow("frame with its newline")
            << QByteArray("<?xml version=\"1.0\"?><frame type=\"join_requ\" ip=\"127.0.0.1\"/>\n");
        QTest::newRow("chinese text") << QByteArray("办公软件\t文字处理 \"引号\" '单引号'\r\n");
        QTest::newRow("largest allowed") << largest;
    }

    void messageArrivesUnchanged()
    {
        QFETCH(QByteArray, text);

        QCOMPARE(vqs_message_send("127.0.0.1", text.constData()), 0);
        const std::vector<std::string> got = m_receiver.take(1);
        QCOMPARE(got.size(), size_t(1));
        QCOMPARE(QByteArray::fromStdString(got[0]), text);
    }

    void thousandMessagesInOrder()
    {
        QStringList sent;
        for (int i = 0; i < 1000; i++) {
            sent << QStringLiteral("message %1").arg(i);
            QCOMPARE(vqs_message_send("127.0.0.1", sent.last().toLatin1().constData()), 0);
        }
        QCOMPARE(toList(m_receiver.take(1000)), sent);
    }

    void severalSendersEachInOrder()
    {
        const int senders = 4;
        const int each = 250;
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

private:
    enum Nowhere { ClosedPort, SilentListener, FarAddress };

    void restartReceiver()
    {
        m_receiver.stop(m_port);
        const int bound = vqs_message_recv_init();
        m_receiver.start();
        QCOMPARE(bound, 0);
    }

    unsigned short m_port = 0;
    Receiver m_receiver;
};

QTEST_GUILESS_MAIN(TestVqs)
#include "tst_vqs.moc"
