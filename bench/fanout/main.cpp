// One catalog server pushing one 50-package update frame to N desktops, N = 100 and 1,000,
// through a private RabbitMQ node and over direct TCP: the time until the last receiver has
// it, the server's CPU time for the push and the threads it did that on. Each against its
// floor: one bare sender, a thread of this benchmark, reaching the same receivers (one
// persistent, confirmed publish to the broadcast address; one write per open connection).
// The receivers are lightweight ones of this benchmark and one real libvqs receiver.
#include "arrivals.h"
#include "bench/support/benchpackages.h"
#include "brokerconsumers.h"
#include "confirmedpublisher.h"
#include "grouppush.h"
#include "idleconnections.h"
#include "idlecost.h"
#include "nodefootprint.h"
#include "server/repository/catalogdocument.h"
#include "stampingpeer.h"
#include "sync/catalogframe.h"
#include "tcpreceivers.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/amqpclient.h"
#include "tests/support/brokernode.h"
#include "vqs.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace
{

using Clock = Arrivals::Clock;
constexpr int Repetitions = 5;
constexpr int FramePackages = 50;
constexpr int WaitMs = 120000;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double threadCpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Load {
    double cpuMs = 0;
    int working = 0; // threads that ran between the two looks
    int threads = 0;
};

Load loadBetween(const std::map<QString, long long> &before,
                 const std::map<QString, long long> &after)
{
    Load load;
    load.threads = int(after.size());
    for (const auto &thread : after) {
        const auto earlier = before.find(thread.first);
        const long long ran = thread.second - (earlier == before.end() ? 0 : earlier->second);
        load.cpuMs += ran / 1e6;
        load.working += ran > 0 ? 1 : 0;
    }
    return load;
}

// The 50 packages of the update frame, as a catalog file for the server, and the frame.
QString writeUpdate(const QString &path, QString *frame)
{
    QString xml = QStringLiteral("<catalog>\n");
    QVector<CatalogPackage> packages;
    for (int i = 0; i < FramePackages; ++i) {
        CatalogPackage p;
        p.name = QString::asprintf("应用%05d", i);
        p.icon = QString::asprintf("cvb-app%05d", i);
        p.exec = p.icon + QStringLiteral(" %U");
        p.version = QStringLiteral("2.") + QString::number(i % 7);
        p.rpm = p.icon + '-' + p.version + QStringLiteral("-1");
        p.size = QString::number(1 + i % 90) + QStringLiteral(" MB");
        p.desc = QStringLiteral("一个普通的桌面应用，用于日常办公与学习，这一版修正了许多问题 #") +
                 QString::number(i);
        p.rpmdeps = QStringLiteral("libc libqt5core libqt5widgets");
        p.star = QString::number(1 + i % 5);
        p.klass = QString::number(1 + i % 13);
        p.time = QStringLiteral("20240601");
        packages << p;
        xml += CatalogFrame::packageElement(QStringLiteral("app"), p) + '\n';
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write((xml + QStringLiteral("</catalog>\n")).toUtf8()) < 0)
        return QString();
    QStringList skipped;
    *frame = CatalogDocument::frames(QStringLiteral("data_update_push"), packages,
                                     CatalogDocument::MaxFrameBytes, &skipped)
                 .value(0);
    return path;
}

struct Figures {
    double lastMs = -1;
    Load server;
    double nodeCpuMs = -1; // the broker's own work for a push, all its nodes together
    double floorLastMs = -1;
    double floorCpuMs = -1;
    double idleKib = -1; // the nodes' memory and open files per desktop doing nothing
    double idleFiles = -1;
};

// Until every receiver has its n-th message, reading the server's output meanwhile: a server
// that cannot write its lines (one a join) reads no more.
bool waitForAll(Arrivals &arrivals, int n, CatalogServerProcess &server)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(WaitMs);
    while (!arrivals.waitForAll(n, 50)) {
        QCoreApplication::processEvents();
        server.output();
        if (Clock::now() > end)
            return false;
    }
    return true;
}

// The nodes' resident memory (KiB) and open files, all together.
// Pushes Repetitions times: the medians of the time to the last receiver and of the load on
// the server (and on the broker's nodes, when there are any).
Figures measurePushes(CatalogServerProcess &server, const QString &file, Arrivals &arrivals,
                      StampingPeer &peer, int before, const std::vector<qint64> &nodes = {})
{
    std::vector<double> last, cpu, working, threads, nodeCpu;
    for (int r = 1; r <= Repetitions; ++r) {
        const auto load = NodeFootprint::cpuByThread(server.processId());
        std::vector<decltype(NodeFootprint::cpuByThread(0))> nodeLoads;
        for (qint64 node : nodes)
            nodeLoads.push_back(NodeFootprint::cpuByThread(node));
        const Clock::time_point start = Clock::now();
        if (!server.command("push data_update_push " + file).startsWith("ok push"))
            return {};
        const Clock::time_point peerTime = peer.next();
        if (!waitForAll(arrivals, before + r, server) || peerTime == Clock::time_point{})
            return {};
        last.push_back(msBetween(start, std::max(arrivals.lastOf(before + r), peerTime)));
        const Load pushLoad = loadBetween(load, NodeFootprint::cpuByThread(server.processId()));
        cpu.push_back(pushLoad.cpuMs);
        working.push_back(pushLoad.working);
        threads.push_back(pushLoad.threads);
        double nodesMs = 0;
        for (size_t i = 0; i < nodes.size(); ++i)
            nodesMs += loadBetween(nodeLoads[i], NodeFootprint::cpuByThread(nodes[i])).cpuMs;
        nodeCpu.push_back(nodesMs);
    }
    Figures figures;
    figures.lastMs = BenchPackages::median(last);
    if (!nodes.empty())
        figures.nodeCpuMs = BenchPackages::median(nodeCpu);
    figures.server = {BenchPackages::median(cpu), int(BenchPackages::median(working)),
                      int(BenchPackages::median(threads))};
    return figures;
}

// The bare sender Repetitions times, right after the pushes: medians into figures.
template <typename Send>
void measureFloor(Figures *figures, Arrivals &arrivals, StampingPeer &peer, int before, Send send)
{
    std::vector<double> last, cpu;
    for (int r = 1; r <= Repetitions; ++r) {
        const double cpuStart = threadCpuMs();
        const Clock::time_point start = Clock::now();
        if (!send())
            return;
        const double cpuUsed = threadCpuMs() - cpuStart;
        const Clock::time_point peerTime = peer.next();
        if (!arrivals.waitForAll(before + r, WaitMs) || peerTime == Clock::time_point{})
            return;
        last.push_back(msBetween(start, std::max(arrivals.lastOf(before + r), peerTime)));
        cpu.push_back(cpuUsed);
    }
    figures->floorLastMs = BenchPackages::median(last);
    figures->floorCpuMs = BenchPackages::median(cpu);
}

QString tcpAddress(int i)
{
    return QStringLiteral("127.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
}

unsigned short freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof sa;
    unsigned short port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&sa), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &size) == 0)
        port = ntohs(sa.sin_port);
    close(fd);
    return port;
}

// A connection from the loopback address from when one is given: the server answers a join at
// the address its connection came from.
int connectTo(const QString &address, unsigned short port, const QString &from = QString())
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (fd >= 0 && !from.isEmpty()) {
        inet_pton(AF_INET, from.toLatin1().constData(), &sa.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
            close(fd);
            return -1;
        }
    }
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

QByteArray framed(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const uint32_t length = htonl(uint32_t(bytes.size()));
    return QByteArray(reinterpret_cast<const char *>(&length), 4) + bytes;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    return send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}

// Direct TCP: every desktop joins, so the server pushes to each over its own connection.
Figures overTcp(int desktops, const QString &settings, const QString &file, const QString &frame)
{
    const unsigned short port = freePort();
    qputenv("VQS_CONFIG", settings.toUtf8());
    qputenv("VQS_PORT", QByteArray::number(port));
    std::vector<QString> addresses;
    for (int i = 0; i < desktops - 1; ++i)
        addresses.push_back(tcpAddress(i));
    const QString real = tcpAddress(desktops - 1);
    Arrivals arrivals(desktops - 1);
    // Beyond a few thousand, the receivers' open files take two processes of their own.
    std::unique_ptr<TcpReceivers> inProcess;
    std::unique_ptr<ForkedTcpReceivers> forked;
    if (desktops > 4000)
        forked = std::make_unique<ForkedTcpReceivers>(addresses, port, &arrivals, 2);
    else
        inProcess = std::make_unique<TcpReceivers>(addresses, port, &arrivals);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VQS_BIND", real);
    StampingPeer peer(env, 1 + 2 * Repetitions);
    CatalogServerProcess server;
    if (!(forked ? forked->isValid() : inProcess->isValid()) || !peer.isReady() ||
        !server.start({"--max-clients", QString::number(desktops)}))
        return {};

    for (size_t i = 0; i < addresses.size(); ++i) {
        const int join = connectTo(QStringLiteral("127.0.0.2"), port, addresses[i]);
        writeAll(join, framed(CatalogFrame::joinRequest(addresses[i])));
        close(join);
        if (i % 100 == 99) {
            QCoreApplication::processEvents();
            server.output();
        }
    }
    const int join = connectTo(QStringLiteral("127.0.0.2"), port, real);
    writeAll(join, framed(CatalogFrame::joinRequest(real)));
    close(join);
    if (!waitForAll(arrivals, 1, server) || peer.next() == Clock::time_point{})
        return {};

    Figures figures = measurePushes(server, file, arrivals, peer, 1);
    std::vector<int> links;
    for (int i = 0; i < desktops; ++i)
        links.push_back(connectTo(tcpAddress(i), port));
    const QByteArray bytes = framed(frame);
    measureFloor(&figures, arrivals, peer, 1 + Repetitions, [&] {
        bool sent = true;
        for (int fd : links)
            sent = writeAll(fd, bytes) && sent;
        return sent;
    });
    for (int fd : links)
        close(fd);
    return figures;
}

// The broker: the server publishes once to the broadcast address, bound to the stream or (with
// design {"stream ="}) to every desktop's queue.
Figures throughBroker(int desktops, BrokerNode &node, const QString &file, const QString &frame,
                      const QStringList &design = {})
{
    const QString real = QStringLiteral("10.77.99.%1").arg(desktops % 250);
    std::vector<QString> addresses;
    for (int i = 0; i < desktops - 1; ++i)
        addresses.push_back(QStringLiteral("10.77.%1.%2").arg(100 + i / 250).arg(i % 250 + 1));
    Arrivals arrivals(desktops - 1);
    const QString serverSettings = node.settingsFor(BrokerNode::ServerAddress, design);
    const NodeFootprint footprint(node);
    const std::vector<qint64> &beams = footprint.pids();
    const auto idle = footprint.now();
    BrokerConsumers consumers(addresses, {real}, &arrivals, serverSettings,
                              node.settingsFor(real, design));
    const auto busy = footprint.now();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VQS_CONFIG", node.settingsFor(real, design));
    StampingPeer peer(env, 2 * Repetitions);
    CatalogServerProcess server;
    if (!consumers.isValid() || !peer.isReady() || !server.start({"--config", serverSettings})) {
        std::fprintf(stderr, "fanout: %s\n", qPrintable(consumers.errorString()));
        return {};
    }
    Figures figures = measurePushes(server, file, arrivals, peer, 0, beams);
    figures.idleKib = (busy.first - idle.first) / (desktops - 1);
    figures.idleFiles = (busy.second - idle.second) / (desktops - 1);

    ConfirmedPublisher publisher(node.settingsFor(BrokerNode::ServerAddress));
    if (!publisher.isValid())
        return figures;
    const QByteArray body = frame.toUtf8();
    measureFloor(&figures, arrivals, peer, Repetitions,
                 [&] { return publisher.publish(vqs_broadcast_address(), body); });
    return figures;
}

void printFigures(const char *transport, int desktops, const Figures &f)
{
    const QString prefix = QStringLiteral("fanout %1 N=%2: ").arg(transport).arg(desktops);
    BenchPackages::printRow(prefix + QStringLiteral("last receiver (ms)"), f.lastMs, f.floorLastMs);
    BenchPackages::printRow(prefix + QStringLiteral("server CPU per push (ms)"), f.server.cpuMs,
                            f.floorCpuMs);
    BenchPackages::printRow(prefix + QStringLiteral("server threads at work"), f.server.working, 1);
    BenchPackages::printRow(prefix + QStringLiteral("server threads in all"), f.server.threads, 0);
    if (f.nodeCpuMs >= 0)
        BenchPackages::printRow(prefix + QStringLiteral("node CPU per push (ms)"), f.nodeCpuMs, 0);
    if (f.idleKib >= 0) {
        BenchPackages::printRow(prefix + QStringLiteral("node memory per idle desktop (KiB)"),
                                f.idleKib, 0);
        BenchPackages::printRow(prefix + QStringLiteral("node open files per idle desktop"),
                                f.idleFiles, 0);
    }
}

// A desktop off while pushes went out, started again: the time from its start to the last of
// them, from the offset it kept (written here as the push before them), and to its first.
std::pair<double, double> offDesktop(BrokerNode &node, const QString &frame, int missed)
{
    const QString desk = node.freshAddress();
    const QString stream = node.setting(BrokerNode::ServerAddress, "stream");
    ConfirmedPublisher publisher(node.settingsFor(BrokerNode::ServerAddress));
    auto publish = [&](const QByteArray &body) {
        return publisher.publish(vqs_broadcast_address(), body);
    };
    const QByteArray marker = "handled before the desktop went off " + desk.toUtf8();
    AmqpClient reader(node.value(QStringLiteral("AMQP_PORT")).toInt(), QStringLiteral("corvane"),
                      node.account(desk), node.password(desk));
    qint64 offset = -1;
    QFile kept(node.setting(desk, "offset_file"));
    bool ready = publisher.isValid() && publish(marker) &&
                 reader.readStream(stream, marker, &offset) == "ok" &&
                 kept.open(QIODevice::WriteOnly) &&
                 kept.write(QByteArray::number(offset) + '\n') > 0;
    kept.close();
    for (int i = 0; i < missed && ready; ++i)
        ready = publish(frame.toUtf8());
    if (!ready)
        return {-1, -1};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VQS_CONFIG", node.settingsFor(desk));
    const Clock::time_point start = Clock::now();
    StampingPeer peer(env, missed);
    Clock::time_point first, last;
    for (int i = 0; i < missed && peer.isReady(); ++i)
        (i == 0 ? first : last) = peer.next();
    if (last == Clock::time_point{} || first == Clock::time_point{})
        return {-1, -1};
    return {msBetween(start, last), msBetween(start, first)};
}

// The stream beside the quorum design on a cluster of three, then 10,000 desktops, then a
// desktop that was off while 100 pushes went out.
int streamFigures(const QString &file, const QString &frame)
{
    BrokerNode cluster(3);
    if (!cluster.isValid()) {
        std::fprintf(stderr, "fanout: %s\n", qPrintable(cluster.errorString()));
        return 1;
    }
    BenchPackages::printHeader();
    const Figures quorum = throughBroker(1000, cluster, file, frame, {"stream ="});
    printFigures("cluster3 quorum", 1000, quorum);
    // Classic queues, for what a desktop's queue costs when it is not replicated.
    printFigures("cluster3 classic", 1000,
                 throughBroker(1000, cluster, file, frame, {"stream =", "queue_type = classic"}));
    const Figures stream = throughBroker(1000, cluster, file, frame);
    printFigures("cluster3 stream", 1000, stream);
    const Figures many = throughBroker(10000, cluster, file, frame);
    printFigures("cluster3 stream", 10000, many);
    const auto off = offDesktop(cluster, frame, 100);
    BenchPackages::printRow(
        QStringLiteral("fanout cluster3 stream: desktop back after 100 missed pushes, to the "
                       "last (ms; floor: to the first)"),
        off.first, off.second);
    return quorum.floorLastMs > 0 && stream.floorLastMs > 0 && many.floorLastMs > 0 && off.first > 0
               ? 0
               : 1;
}

// Direct TCP: N = 100, 1,000 and 10,000, then a server holding 10,000 idle connections.
int tcpFigures(const QString &settings, const QString &file, const QString &frame)
{
    bool complete = true;
    for (int desktops : {100, 1000, 10000}) {
        const Figures figures = overTcp(desktops, settings, file, frame);
        printFigures("tcp", desktops, figures);
        complete = complete && figures.floorLastMs > 0;
    }
    return IdleConnections::run(freePort(), 10000) == 0 && complete ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Each desktop costs the TCP server a connection and this benchmark four (its listener,
    // the server's lane, the floor's two ends); as root the hard limit is raised too.
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        const rlim_t wanted = 65536;
        rlimit raised = files;
        raised.rlim_cur = raised.rlim_max = std::max(files.rlim_max, wanted);
        if (setrlimit(RLIMIT_NOFILE, &raised) != 0) {
            files.rlim_cur = files.rlim_max;
            setrlimit(RLIMIT_NOFILE, &files);
        }
    }
    QTemporaryDir dir;
    QString frame;
    const QString file = writeUpdate(dir.filePath("update.xml"), &frame);
    const QString tcpSettings = dir.filePath("tcp.conf");
    QFile tcp(tcpSettings);
    if (file.isEmpty() || frame.isEmpty() || !tcp.open(QIODevice::WriteOnly) ||
        tcp.write("transport = tcp\n") < 0) {
        std::fprintf(stderr, "fanout: cannot write the frame or the settings\n");
        return 1;
    }
    tcp.close();
    // Whatever the umask: libvqs refuses a settings file others may change.
    tcp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (app.arguments().contains(QStringLiteral("--stream")))
        return streamFigures(file, frame);
    if (app.arguments().contains(QStringLiteral("--idle")))
        return IdleCost::run();
    if (app.arguments().contains(QStringLiteral("--groups")))
        return GroupPush::run(frame);
    if (app.arguments().contains(QStringLiteral("--tcp"))) {
        std::printf("# fanout: one %d-package update frame of %d bytes, median of %d pushes\n",
                    FramePackages, int(frame.toUtf8().size()), Repetitions);
        BenchPackages::printHeader();
        return tcpFigures(tcpSettings, file, frame);
    }
    // One node with classic queues, and a cluster of three with quorum queues.
    BrokerNode node;
    BrokerNode cluster(3);
    for (const BrokerNode *broker : {&node, &cluster}) {
        if (!broker->isValid()) {
            std::fprintf(stderr, "fanout: %s\n", qPrintable(broker->errorString()));
            return 1;
        }
    }
    std::printf("# fanout: one %d-package update frame of %d bytes, median of %d pushes\n",
                FramePackages, int(frame.toUtf8().size()), Repetitions);
    BenchPackages::printHeader();
    bool complete = true;
    for (int desktops : {100, 1000}) {
        const Figures brokerFigures = throughBroker(desktops, node, file, frame, {"stream ="});
        printFigures("broker", desktops, brokerFigures);
        const Figures clusterFigures = throughBroker(desktops, cluster, file, frame, {"stream ="});
        printFigures("cluster3 quorum", desktops, clusterFigures);
        complete = complete && brokerFigures.floorLastMs > 0 && clusterFigures.floorLastMs > 0;
    }
    return tcpFigures(tcpSettings, file, frame) == 0 && complete ? 0 : 1;
}
