#pragma once

#include <QString>
#include <QtGlobal>

#include <map>

#include <utility>
#include <vector>

class BrokerNode;

// The Erlang VMs of a private broker node or cluster, and what they hold now.
class NodeFootprint
{
public:
    explicit NodeFootprint(const BrokerNode &node);

    // Time on a CPU of each thread of a process, in nanoseconds, by thread id.
    static std::map<QString, long long> cpuByThread(qint64 pid);

    const std::vector<qint64> &pids() const { return m_pids; }
    // Their CPU time so far (ms), every thread.
    double cpuMs() const;
    // Their resident memory (KiB) and open files, summed, from /proc.
    std::pair<double, double> now() const;

private:
    std::vector<qint64> m_pids;
};
