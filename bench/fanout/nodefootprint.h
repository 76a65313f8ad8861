#pragma once

#include <QtGlobal>

#include <utility>
#include <vector>

class BrokerNode;

// The Erlang VMs of a private broker node or cluster, and what they hold now.
class NodeFootprint
{
public:
    explicit NodeFootprint(const BrokerNode &node);

    const std::vector<qint64> &pids() const { return m_pids; }
    // Their resident memory (KiB) and open files, summed, from /proc.
    std::pair<double, double> now() const;

private:
    std::vector<qint64> m_pids;
};
