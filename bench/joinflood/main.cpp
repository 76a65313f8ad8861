// The catalog server over direct TCP under a flood of join requests: its threads and resident
// memory after 1,000 and 100,000 requests naming as many addresses over one connection, and
// after 1,000, 5,000 and 10,000 connections from as many loopback addresses. Floor: the same
// figures of the server that has answered one desktop.
#include "bench/support/benchpackages.h"
#include "bench/support/loopbackconnect.h"
#include "bench/support/processstatus.h"
#include "sync/catalogframe.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/freeport.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstdio>

namespace
{

constexpr int WaitMs = 600000;
constexpr int Batch = 500;

QByteArray framed(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const uint32_t length = htonl(uint32_t(bytes.size()));
    return QByteArray(reinterpret_cast<const char *>(&length), 4) + bytes;
}

QString address(const char *prefix, int n)
{
    return QStringLiteral("%1.%2.%3").arg(QLatin1String(prefix)).arg(n / 250).arg(n % 250 + 1);
}

class Flood
{
public:
    bool start(unsigned short port)
    {
        m_port = port;
        if (!m_server.start({}))
            return false;
        join(QStringLiteral("127.0.0.3"), {QStringLiteral("127.0.0.3")});
        if (!waitForJoins())
            return false;
        m_threads = statusOf(m_server.processId(), "Threads");
        m_rss = statusOf(m_server.processId(), "VmRSS");
        return true;
    }

    // Joins from one connection, each naming the next of count new addresses.
    bool claim(int count)
    {
        QStringList named;
        for (int i = 0; i < count; ++i)
            named << address("127.3", m_claimed++);
        return join(QStringLiteral("127.0.0.4"), named) && waitForJoins();
    }

    // One join from each of count new loopback addresses, each naming itself.
    bool spread(int count)
    {
        for (int i = 0; i < count; ++i) {
            const QString from = address("127.4", m_sources++);
            // Joined a hundred at a time: the receiver closes the connection idle longest
            // once its bounds are reached.
            if (!join(from, {from}) || (i % 100 == 99 && !waitForJoins()))
                return false;
        }
        return waitForJoins();
    }

    void print(const QString &what)
    {
        BenchPackages::printRow(QStringLiteral("joinflood threads after %1").arg(what),
                                statusOf(m_server.processId(), "Threads"), m_threads);
        BenchPackages::printRow(QStringLiteral("joinflood RSS after %1 (KiB)").arg(what),
                                statusOf(m_server.processId(), "VmRSS"), m_rss);
    }

private:
    bool join(const QString &from, const QStringList &named)
    {
        const int fd = connectFrom(from, m_port);
        bool written = fd >= 0;
        for (int i = 0; written && i < named.size(); i += Batch) {
            QByteArray bytes;
            for (const QString &client : named.mid(i, Batch))
                bytes += framed(CatalogFrame::joinRequest(client));
            written = writeAll(fd, bytes);
        }
        if (fd >= 0)
            close(fd);
        m_sent += named.size();
        return written;
    }

    // Reads the server's lines while the socket is full: a server that cannot write its
    // output reads no more.
    bool writeAll(int fd, const QByteArray &bytes)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = send(fd, bytes.constData() + done, size_t(bytes.size() - done),
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
            pollfd ready{fd, POLLOUT, 0};
            poll(&ready, 1, 10);
            QCoreApplication::processEvents();
            m_server.output();
        }
        return true;
    }

    // Until the server has answered (or refused) every join sent.
    bool waitForJoins()
    {
        return QTest::qWaitFor(
            [&] {
                return m_server.output()
                           .filter(QRegularExpression("^(join_requ|refused)"))
                           .size() >= m_sent;
            },
            WaitMs);
    }

    CatalogServerProcess m_server;
    unsigned short m_port = 0;
    int m_sent = 0;
    int m_claimed = 0;
    int m_sources = 0;
    double m_threads = 0;
    double m_rss = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const unsigned short port = useLoopbackTransport();
    BenchPackages::printHeader();
    std::printf("# floor: the server after answering one desktop; the answers go to loopback "
                "addresses nobody listens on\n");

    {
        Flood claims;
        if (!claims.start(port) || !claims.claim(1000))
            return 1;
        claims.print(QStringLiteral("1,000 claimed addresses"));
        if (!claims.claim(99000))
            return 1;
        claims.print(QStringLiteral("100,000 claimed addresses"));
    }

    Flood sources;
    if (!sources.start(port) || !sources.spread(1000))
        return 1;
    sources.print(QStringLiteral("1,000 loopback peers"));
    // The server's senders are bounded at its --max-clients (4096) plus 256.
    if (!sources.spread(4000))
        return 1;
    sources.print(QStringLiteral("5,000 loopback peers"));
    if (!sources.spread(5000))
        return 1;
    sources.print(QStringLiteral("10,000 loopback peers"));
    return 0;
}
