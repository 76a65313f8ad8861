#include "idleconnections.h"

#include "arrivals.h"
#include "bench/support/benchpackages.h"
#include "bench/support/loopbackconnect.h"
#include "bench/support/processstatus.h"
#include "sync/catalogframe.h"
#include "tcpreceivers.h"
#include "tests/core/sync/catalogserverprocess.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace
{

constexpr int Repetitions = 5;
constexpr int WaitMs = 120000;

double openFiles(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid))
        .entryList(QDir::NoDotAndDotDot | QDir::System)
        .size();
}

// The median time from a join's last byte written to its answer at the desktop, each join from
// a desktop of its own (127.5.A.B, listening for the answer).
double joinAnswerMs(CatalogServerProcess &server, unsigned short port, int *next)
{
    std::vector<double> times;
    for (int r = 0; r < Repetitions; ++r) {
        const int n = (*next)++;
        const QString desk = QStringLiteral("127.5.%1.%2").arg(n / 250).arg(n % 250 + 1);
        Arrivals arrivals(1);
        TcpReceivers receiver({desk}, port, &arrivals);
        const QByteArray text = CatalogFrame::joinRequest(desk).toUtf8();
        const uint32_t length = htonl(uint32_t(text.size()));
        const QByteArray bytes = QByteArray(reinterpret_cast<const char *>(&length), 4) + text;
        const int fd = connectFrom(desk, port);
        if (!receiver.isValid() || fd < 0)
            return -1;
        const Arrivals::Clock::time_point start = Arrivals::Clock::now();
        const bool sent =
            send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
        close(fd);
        // The server's output is read meanwhile: one that cannot write its lines reads no more.
        if (!sent || !QTest::qWaitFor(
                         [&] {
                             server.output();
                             return arrivals.waitForAll(1, 0);
                         },
                         WaitMs))
            return -1;
        times.push_back(
            std::chrono::duration<double, std::milli>(arrivals.lastOf(1) - start).count());
    }
    return BenchPackages::median(times);
}

} // namespace

int IdleConnections::run(unsigned short port, int connections)
{
    // The figure is about holding them: none may reach the idle deadline meanwhile.
    qputenv("VQS_CONNECTION_IDLE", "3600");
    qputenv("VQS_PORT", QByteArray::number(port));
    CatalogServerProcess server;
    const bool started = server.start({});
    qunsetenv("VQS_CONNECTION_IDLE");
    if (!started)
        return 1;
    const qint64 pid = server.processId();
    int desks = 0;
    const double floorJoin = joinAnswerMs(server, port, &desks);
    const double floorThreads = statusOf(pid, "Threads");
    const double floorRss = statusOf(pid, "VmRSS");
    const double floorFiles = openFiles(pid);

    std::vector<int> idle;
    for (int i = 0; i < connections; ++i) {
        const int fd =
            connectFrom(QStringLiteral("127.6.%1.%2").arg(i / 250).arg(i % 250 + 1), port);
        if (fd < 0)
            break;
        idle.push_back(fd);
    }
    // Until the server has taken them all.
    const bool held =
        int(idle.size()) == connections &&
        QTest::qWaitFor([&] { return openFiles(pid) >= floorFiles + connections; }, WaitMs);
    const double join = held ? joinAnswerMs(server, port, &desks) : -1;
    const QString prefix =
        QStringLiteral("tcp receiver holding %1 idle connections: ").arg(connections);
    BenchPackages::printRow(prefix + QStringLiteral("server threads"), statusOf(pid, "Threads"),
                            floorThreads);
    BenchPackages::printRow(prefix + QStringLiteral("server RSS (KiB)"), statusOf(pid, "VmRSS"),
                            floorRss);
    BenchPackages::printRow(prefix + QStringLiteral("server open files"), openFiles(pid),
                            floorFiles);
    BenchPackages::printRow(prefix + QStringLiteral("join answered (ms)"), join, floorJoin);
    for (int fd : idle)
        close(fd);
    return held && join > 0 && floorJoin > 0 ? 0 : 1;
}
