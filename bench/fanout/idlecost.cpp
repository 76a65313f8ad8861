#include "idlecost.h"

#include "arrivals.h"
#include "bench/support/benchpackages.h"
#include "brokerconsumers.h"
#include "nodefootprint.h"
#include "tests/support/brokernode.h"
#include "tests/support/processrunner.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <vector>

namespace
{

constexpr int Desktops = 1000;

struct Cost {
    double kib = -1;
    double files = -1;
    double queues = -1;
    double members = -1; // Raft members: one a node for each quorum queue or stream
};

// The vhost's queues and their Raft members, as rabbitmqctl lists them.
bool countQueues(const BrokerNode &cluster, double *queues, double *members)
{
    const ProcessResult listed = cluster.ctl(
        {"list_queues", "-p", "corvane", "--quiet", "--no-table-headers", "type", "members"});
    if (listed.exitCode != 0)
        return false;
    *queues = *members = 0;
    for (const QString &line : listed.output.split('\n', Qt::SkipEmptyParts)) {
        const QString type = line.section('\t', 0, 0).trimmed();
        if (type != QLatin1String("classic") && type != QLatin1String("quorum") &&
            type != QLatin1String("stream"))
            continue;
        ++*queues;
        if (type != QLatin1String("classic"))
            *members += line.count('@');
    }
    return true;
}

// Desktops attached as a store is: a consumer of the stream each, and with queueDesign a queue
// of its own of that design, consumed; the cluster's growth per desktop.
Cost measure(BrokerNode &cluster, const QStringList &queueDesign)
{
    std::vector<QString> addresses;
    for (int i = 0; i < Desktops; ++i)
        addresses.push_back(QStringLiteral("10.77.%1.%2").arg(100 + i / 250).arg(i % 250 + 1));
    const QString group = QStringLiteral("10.77.99.1");
    const NodeFootprint footprint(cluster);
    Cost cost;
    double queuesBefore = 0, membersBefore = 0;
    if (!countQueues(cluster, &queuesBefore, &membersBefore))
        return cost;
    const auto before = footprint.now();
    Arrivals streamArrivals(Desktops), queueArrivals(Desktops);
    BrokerConsumers stream(addresses, {}, &streamArrivals,
                           cluster.settingsFor(BrokerNode::ServerAddress),
                           cluster.settingsFor(group));
    std::unique_ptr<BrokerConsumers> queues;
    if (!queueDesign.isEmpty())
        queues = std::make_unique<BrokerConsumers>(
            addresses, std::vector<QString>{}, &queueArrivals,
            cluster.settingsFor(BrokerNode::ServerAddress, queueDesign),
            cluster.settingsFor(group, queueDesign));
    if (!stream.isValid() || (queues && !queues->isValid())) {
        std::fprintf(stderr, "fanout: %s\n",
                     qPrintable(stream.isValid() ? queues->errorString() : stream.errorString()));
        return cost;
    }
    const auto after = footprint.now();
    double queuesAfter = 0, membersAfter = 0;
    if (!countQueues(cluster, &queuesAfter, &membersAfter))
        return cost;
    cost.kib = (after.first - before.first) / Desktops;
    cost.files = (after.second - before.second) / Desktops;
    cost.queues = (queuesAfter - queuesBefore) / Desktops;
    cost.members = (membersAfter - membersBefore) / Desktops;
    return cost;
}

} // namespace

int IdleCost::run()
{
    BrokerNode cluster(3);
    if (!cluster.isValid()) {
        std::fprintf(stderr, "fanout: %s\n", qPrintable(cluster.errorString()));
        return 1;
    }
    BenchPackages::printHeader();
    // The floor first and the quorum queues last: what a design leaves behind is freed
    // slowly and would count against the next.
    const Cost floor = measure(cluster, {});
    bool complete = floor.kib >= 0;
    const struct {
        const char *name;
        QStringList design;
    } designs[] = {{"no queue (direct reply-to)", {}},
                   {"classic queue", {"stream =", "queue_type = classic"}},
                   {"quorum queue", {"stream =", "queue_type = quorum"}}};
    for (const auto &d : designs) {
        const Cost cost = d.design.isEmpty() ? floor : measure(cluster, d.design);
        complete = complete && cost.kib >= 0;
        const QString prefix =
            QStringLiteral("idle desktop, cluster3 N=%1, stream consumer and %2: ")
                .arg(Desktops)
                .arg(QLatin1String(d.name));
        BenchPackages::printRow(prefix + QStringLiteral("node memory (KiB)"), cost.kib, floor.kib);
        BenchPackages::printRow(prefix + QStringLiteral("node open files"), cost.files,
                                floor.files);
        BenchPackages::printRow(prefix + QStringLiteral("queues"), cost.queues, floor.queues);
        BenchPackages::printRow(prefix + QStringLiteral("Raft members"), cost.members,
                                floor.members);
    }
    return complete ? 0 : 1;
}
