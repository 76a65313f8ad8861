#include "grouppush.h"

#include "arrivals.h"
#include "bench/support/benchpackages.h"
#include "brokerconsumers.h"
#include "confirmedpublisher.h"
#include "nodefootprint.h"
#include "stampingpeer.h"
#include "tests/support/brokernode.h"
#include "tests/support/processrunner.h"
#include "vqs.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace
{

constexpr int Groups = 10;
constexpr int GroupSize = 1000;
constexpr int Repetitions = 5;
constexpr int WaitMs = 120000;

QString groupName(int g)
{
    return QStringLiteral("g%1").arg(g);
}

// Each group's desktops share a group account, as a site of many desktops would have them.
QString groupPrefix(int g)
{
    return QStringLiteral("10.%1").arg(80 + g);
}

struct Group {
    explicit Group(int receivers) : arrivals(receivers) {}
    Arrivals arrivals;
    std::unique_ptr<BrokerConsumers> consumers;
    int pushed = 0; // messages each of its receivers has had
};

// Group g's desktops attached to its stream: lightweight receivers, and, given realAddress, one
// of them is the real libvqs receiver, whose queue is made here.
bool attach(Group *group, int g, BrokerNode &cluster, const QString &accountSettings,
            const QString &realAddress = QString())
{
    std::vector<QString> addresses;
    const int lightweight = GroupSize - (realAddress.isEmpty() ? 0 : 1);
    for (int i = 0; i < lightweight; ++i)
        addresses.push_back(
            QStringLiteral("%1.%2.%3").arg(groupPrefix(g)).arg(i / 250).arg(i % 250 + 1));
    const QString stream =
        cluster.setting(BrokerNode::ServerAddress, "stream") + '.' + groupName(g);
    std::vector<QString> others;
    if (!realAddress.isEmpty())
        others.push_back(realAddress);
    // Two connections a group; the first on the node after the group before's last.
    group->consumers = std::make_unique<BrokerConsumers>(
        addresses, others, &group->arrivals,
        cluster.settingsFor(BrokerNode::ServerAddress, {"stream = " + stream}), accountSettings,
        2 * g);
    if (!group->consumers->isValid())
        std::fprintf(stderr, "fanout: group %s: %s\n", qPrintable(groupName(g)),
                     qPrintable(group->consumers->errorString()));
    return group->consumers->isValid();
}

struct Push {
    double lastMs = -1;
    double nodeCpuMs = -1;
};

// Repetitions publishes of body to key, each waited for at every receiver of group and at the
// real receiver: the medians of the time to the last of them and of the nodes' CPU meanwhile.
Push measure(ConfirmedPublisher &publisher, const QByteArray &key, const QByteArray &body,
             Group &group, StampingPeer &peer, const NodeFootprint &nodes)
{
    std::vector<double> last, cpu;
    for (int r = 0; r < Repetitions; ++r) {
        const double cpuBefore = nodes.cpuMs();
        const Arrivals::Clock::time_point start = Arrivals::Clock::now();
        if (!publisher.publish(key, body))
            return {};
        const Arrivals::Clock::time_point peerTime = peer.next();
        if (!group.arrivals.waitForAll(++group.pushed, WaitMs) ||
            peerTime == Arrivals::Clock::time_point{})
            return {};
        cpu.push_back(nodes.cpuMs() - cpuBefore);
        const auto lastTime = std::max(group.arrivals.lastOf(group.pushed), peerTime);
        last.push_back(std::chrono::duration<double, std::milli>(lastTime - start).count());
    }
    return {BenchPackages::median(last), BenchPackages::median(cpu)};
}

// The groups' accounts and streams, as scripts/broker accounts makes them on a site's broker;
// the folder of their settings files, empty when it failed.
QString addGroups(BrokerNode &cluster)
{
    QStringList accounts{"--server", BrokerNode::ServerAddress, "--server-queue-type", "quorum"};
    for (int g = 0; g < Groups; ++g)
        accounts << "--group" << groupPrefix(g) << "--desktop-group"
                 << groupName(g) + ' ' + groupPrefix(g) + ".0.0/16";
    const QString out = cluster.directory() + QStringLiteral("/groups");
    // rabbitmqctl finds the cluster's Erlang cookie in HOME, as scripts/broker ctl gives it.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(cluster.nodeDirectory(0) + QStringLiteral("/node")));
    // Every node's URL, as the cluster's own settings files list them.
    const ProcessResult made =
        cluster.script(QStringList{"accounts", "--node", cluster.value("NODE"), "--url",
                                   cluster.setting(BrokerNode::ServerAddress, "url"), "--cacert",
                                   cluster.value("CACERT"), "--out", out} +
                       accounts);
    qputenv("HOME", home);
    if (made.exitCode != 0) {
        std::fprintf(stderr, "fanout: scripts/broker accounts: %s\n", qPrintable(made.output));
        return QString();
    }
    return out;
}

QString accountSettings(const QString &folder, int g)
{
    return folder + QStringLiteral("/vqs-group-%1.conf").arg(groupPrefix(g));
}

// The real receiver's settings: its group account's, and its address.
QString realSettings(const QString &folder, const QString &address)
{
    QFile account(accountSettings(folder, 0));
    QFile own(folder + QStringLiteral("/vqs-real.conf"));
    if (!account.open(QIODevice::ReadOnly) || !own.open(QIODevice::WriteOnly) ||
        own.write(account.readAll() + "address = " + address.toUtf8() + '\n') < 0)
        return QString();
    // Whatever the umask: libvqs refuses a settings file others may change.
    own.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return own.fileName();
}

} // namespace

int GroupPush::run(const QString &frame)
{
    BrokerNode cluster(3);
    if (!cluster.isValid()) {
        std::fprintf(stderr, "fanout: %s\n", qPrintable(cluster.errorString()));
        return 1;
    }
    const QString folder = addGroups(cluster);
    if (folder.isEmpty())
        return 1;
    const NodeFootprint nodes(cluster);
    const QString real = groupPrefix(0) + QStringLiteral(".99.1");
    std::vector<std::unique_ptr<Group>> groups;
    for (int g = 0; g < Groups; ++g)
        groups.push_back(std::make_unique<Group>(GroupSize - (g == 0 ? 1 : 0)));
    Group &target = *groups[0];
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VQS_CONFIG", realSettings(folder, real));
    if (!attach(&target, 0, cluster, accountSettings(folder, 0), real))
        return 1;
    // Three series and the push to everyone that closes the second.
    StampingPeer peer(env, 3 * Repetitions + 1);
    ConfirmedPublisher publisher(cluster.settingsFor(BrokerNode::ServerAddress));
    if (!peer.isReady() || !publisher.isValid()) {
        std::fprintf(stderr, "fanout: the real receiver or the publisher did not start\n");
        return 1;
    }
    // As the catalog server with group-streams publishes a group's own push.
    const QByteArray key = "group." + groupName(0).toUtf8();
    const QByteArray body = frame.toUtf8();
    const Push alone = measure(publisher, key, body, target, peer, nodes);

    for (int g = 1; g < Groups; ++g)
        if (!attach(groups[size_t(g)].get(), g, cluster, accountSettings(folder, g)))
            return 1;
    const Push among = measure(publisher, key, body, target, peer, nodes);
    // A push to everyone after them: each stream delivers in order, so once every desktop has
    // it, a group's push that went astray has come too.
    long long astray = -1;
    if (among.lastMs >= 0 && publisher.publish(vqs_broadcast_address(), body) &&
        peer.next() != Arrivals::Clock::time_point{}) {
        astray = 0;
        for (const auto &group : groups) {
            if (!group->arrivals.waitForAll(++group->pushed, WaitMs)) {
                astray = -1;
                break;
            }
            if (group.get() != &target)
                astray += group->arrivals.received() - GroupSize;
        }
    }
    // The group alone once more: the machine's drift between the two series.
    for (size_t g = 1; g < groups.size(); ++g)
        groups[g]->consumers.reset();
    const Push again = astray >= 0 ? measure(publisher, key, body, target, peer, nodes) : Push();

    const QString prefix = QStringLiteral("fanout cluster3 stream, a group of %1 among %2: ")
                               .arg(GroupSize)
                               .arg(Groups * GroupSize);
    BenchPackages::printHeader();
    BenchPackages::printRow(prefix + QStringLiteral("last receiver (ms)"), among.lastMs,
                            alone.lastMs);
    BenchPackages::printRow(prefix + QStringLiteral("node CPU per push (three nodes, ms)"),
                            among.nodeCpuMs, alone.nodeCpuMs);
    BenchPackages::printRow(prefix + QStringLiteral("receivers of the other groups reached"),
                            double(astray), 0);
    BenchPackages::printRow(
        QStringLiteral("fanout cluster3 stream, the group alone again: last receiver (ms)"),
        again.lastMs, alone.lastMs);
    BenchPackages::printRow(
        QStringLiteral("fanout cluster3 stream, the group alone again: node CPU per push (ms)"),
        again.nodeCpuMs, alone.nodeCpuMs);
    return alone.lastMs >= 0 && among.lastMs >= 0 && astray >= 0 && again.lastMs >= 0 ? 0 : 1;
}
