#include "nodefootprint.h"

#include "tests/support/brokernode.h"

#include <QDir>
#include <QFile>

NodeFootprint::NodeFootprint(const BrokerNode &node)
{
    for (int i = 0; i < node.nodes(); ++i) {
        QFile pid(node.nodeDirectory(i) + QStringLiteral("/node/pid"));
        if (pid.open(QIODevice::ReadOnly))
            m_pids.push_back(pid.readAll().trimmed().toLongLong());
    }
}

std::pair<double, double> NodeFootprint::now() const
{
    double kib = 0, files = 0;
    for (qint64 pid : m_pids) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("VmRSS:"))
                    kib += line.simplified().split(' ').value(1).toDouble();
            }
        }
        files += QDir(QStringLiteral("/proc/%1/fd").arg(pid)).count() - 2;
    }
    return {kib, files};
}

std::map<QString, long long> NodeFootprint::cpuByThread(qint64 pid)
{
    std::map<QString, long long> result;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + '/' + tid + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            result[tid] = stat.readAll().split(' ').value(0).toLongLong();
    }
    return result;
}

double NodeFootprint::cpuMs() const
{
    long long ns = 0;
    for (qint64 pid : m_pids)
        for (const auto &thread : cpuByThread(pid))
            ns += thread.second;
    return ns / 1e6;
}
