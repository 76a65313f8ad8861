#include "brokernode.h"

#include "accountaccess.h"
#include "amqpclient.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <signal.h>

#ifndef CORVANE_BROKER_SCRIPT
#error "CORVANE_BROKER_SCRIPT must name scripts/broker"
#endif

const char *const BrokerNode::ServerAddress = "10.77.0.1";

namespace
{

QString desktopAddress(int number)
{
    return QStringLiteral("10.76.0.%1").arg(number);
}

} // namespace

BrokerNode::BrokerNode(int nodes) : m_nodes(nodes)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    // The node runs as rabbitmq; scripts/broker opens the folder itself, not those above it.
    m_error = AccountAccess::whyUnreachable(QFileInfo(m_dir.path()).path());
    if (!m_error.isEmpty())
        return;
    if (!start())
        return;
}

BrokerNode::~BrokerNode()
{
    stop();
}

ProcessResult BrokerNode::script(const QStringList &arguments) const
{
    return ProcessRunner::run(QStringLiteral(CORVANE_BROKER_SCRIPT), arguments, 180000);
}

bool BrokerNode::start()
{
    QStringList arguments{
        QStringLiteral("start"),    m_dir.path(),
        QStringLiteral("--server"), QString::fromLatin1(ServerAddress),
        QStringLiteral("--group"),  QStringLiteral("10.77"),
        QStringLiteral("--owner"),  QString::number(QCoreApplication::applicationPid())};
    if (m_nodes > 1)
        arguments << QStringLiteral("--cluster") << QString::number(m_nodes);
    for (int i = 1; i <= DesktopAccounts; ++i)
        arguments << QStringLiteral("--client") << desktopAddress(i);
    const ProcessResult started = script(arguments);
    m_running = started.exitCode == 0;
    if (m_running)
        m_killed.clear();
    else
        m_error = QStringLiteral("scripts/broker start failed: ") + started.output;
    return m_running;
}

bool BrokerNode::stop()
{
    if (!m_running)
        return true;
    m_running = script({QStringLiteral("stop"), m_dir.path()}).exitCode != 0;
    return !m_running;
}

QString BrokerNode::nodeDirectory(int node) const
{
    return m_nodes > 1 ? m_dir.path() + QStringLiteral("/n%1").arg(node + 1) : m_dir.path();
}

bool BrokerNode::killVm(int node)
{
    const pid_t vm = readFile(nodeDirectory(node) + QStringLiteral("/node/pid")).trimmed().toInt();
    if (vm <= 0 || ::kill(vm, SIGKILL) != 0)
        return false;
    m_killed.insert(node);
    // Not our child: gone once the kernel has let go of it.
    QDeadlineTimer deadline(60000);
    while (QFileInfo::exists(QStringLiteral("/proc/%1").arg(vm)) && !deadline.hasExpired())
        QThread::msleep(20);
    return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(vm));
}

bool BrokerNode::freezeVm(int node)
{
    const pid_t vm = readFile(nodeDirectory(node) + QStringLiteral("/node/pid")).trimmed().toInt();
    return vm > 0 && ::kill(vm, SIGSTOP) == 0;
}

bool BrokerNode::startNode(int node)
{
    const bool started =
        script({QStringLiteral("start"), nodeDirectory(node), QStringLiteral("--owner"),
                QString::number(QCoreApplication::applicationPid())})
            .exitCode == 0;
    if (started)
        m_killed.remove(node);
    return started;
}

bool BrokerNode::isConnected(const QString &address)
{
    return nodeOf(address) >= 0;
}

int BrokerNode::nodeOf(const QString &address)
{
    const ProcessResult listed =
        ctl({QStringLiteral("list_connections"), QStringLiteral("-q"),
             QStringLiteral("--no-table-headers"), QStringLiteral("user"), QStringLiteral("port")});
    const QString user = account(address);
    for (const QString &line : listed.output.split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QRegularExpression(QStringLiteral("\\s+")));
        if (fields.size() < 2 || fields[0] != user)
            continue;
        for (int node = 0; node < m_nodes; ++node) {
            if (value(QStringLiteral("AMQP_PORT"), node) == fields[1])
                return node;
        }
    }
    return -1;
}

int BrokerNode::leaderOf(const QString &queue) const
{
    const ProcessResult listed =
        ctl({QStringLiteral("list_queues"), QStringLiteral("-q"), QStringLiteral("-p"),
             QStringLiteral("corvane"), QStringLiteral("--no-table-headers"),
             QStringLiteral("name"), QStringLiteral("leader"), QStringLiteral("pid")});
    for (const QString &line : listed.output.split(QLatin1Char('\n'))) {
        const QStringList fields = line.trimmed().split(QLatin1Char('\t'));
        if (fields.size() < 2 || fields[0] != queue)
            continue;
        // A classic queue names no leader (an empty column): its process is on its node.
        for (int node = 0; node < m_nodes; ++node) {
            const QString name = value(QStringLiteral("NODE"), node);
            if (name == fields[1] || fields.value(2).startsWith('<' + name + '.'))
                return node;
        }
    }
    return -1;
}

ProcessResult BrokerNode::ctl(const QStringList &arguments) const
{
    int up = 0;
    while (m_killed.contains(up) && up + 1 < m_nodes)
        ++up;
    const QString dir = m_nodes > 1 ? nodeDirectory(up) : m_dir.path();
    return script(QStringList{QStringLiteral("ctl"), dir} + arguments);
}

ProcessResult BrokerNode::addAccounts(const QStringList &accounts, const QString &directory) const
{
    return script(QStringList{QStringLiteral("accounts"), QStringLiteral("--node"),
                              value(QStringLiteral("NODE")), QStringLiteral("--url"),
                              value(QStringLiteral("URL")), QStringLiteral("--cacert"),
                              value(QStringLiteral("CACERT")), QStringLiteral("--out"), directory} +
                  accounts);
}

QString BrokerNode::value(const QString &key, int node) const
{
    const QRegularExpression line(QStringLiteral("^") + QRegularExpression::escape(key) +
                                      QStringLiteral("=(.*)$"),
                                  QRegularExpression::MultilineOption);
    return line
        .match(QString::fromUtf8(readFile(nodeDirectory(node) + QStringLiteral("/node.env"))))
        .captured(1);
}

QString BrokerNode::log() const
{
    return QString::fromUtf8(readFile(nodeDirectory() + QStringLiteral("/node/log/") +
                                      value(QStringLiteral("NODE")) + QStringLiteral(".log")));
}

QString BrokerNode::settingsFor(const QString &address, const QStringList &extra)
{
    const QString own = m_dir.path() + QStringLiteral("/vqs-%1.conf").arg(address);
    QByteArray text;
    if (address == QLatin1String(ServerAddress))
        text = readFile(m_dir.path() + QStringLiteral("/vqs-server.conf"));
    else if (QFile::exists(own))
        text = readFile(own);
    else
        text = readFile(m_dir.path() + QStringLiteral("/vqs-group-10.77.conf")) +
               "address = " + address.toUtf8() + '\n';
    // Each desktop keeps its place in the stream, as a store does across restarts.
    if (address != QLatin1String(ServerAddress))
        text += "offset_file = " + m_dir.path().toUtf8() + "/offset-" + address.toUtf8() + '\n';
    for (const QString &line : extra)
        text += line.toUtf8() + '\n';
    const QString path = m_dir.path() + QStringLiteral("/settings-%1.conf").arg(++m_files);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return path;
}

QString BrokerNode::freshAddress()
{
    if (m_addresses == DesktopAccounts)
        qFatal("BrokerNode: all %d desktop accounts are in use", DesktopAccounts);
    const QString address = desktopAddress(++m_addresses);
    // Its queue has been bound to the broadcast address since the node started: what earlier
    // tests pushed to everyone is not this test's.
    AmqpClient desk(*this, address);
    if (desk.purgeQueue(address) != QLatin1String("ok"))
        qFatal("BrokerNode: cannot empty the queue of %s", qPrintable(address));
    return address;
}

QString BrokerNode::groupAddress()
{
    ++m_groupAddresses;
    return QStringLiteral("10.77.%1.%2")
        .arg(200 + m_groupAddresses / 250)
        .arg(m_groupAddresses % 250 + 1);
}

QString BrokerNode::setting(const QString &address, const char *key)
{
    return QRegularExpression(QStringLiteral("^%1 = (.*)$").arg(QLatin1String(key)),
                              QRegularExpression::MultilineOption)
        .match(QString::fromUtf8(readFile(settingsFor(address))))
        .captured(1);
}

QString BrokerNode::account(const QString &address)
{
    return setting(address, "user");
}

QString BrokerNode::password(const QString &address)
{
    return setting(address, "password");
}

QStringList BrokerNode::clientToolArguments(const QString &address)
{
    return {QStringLiteral("--server"),   QStringLiteral("127.0.0.1"),
            QStringLiteral("--port"),     value(QStringLiteral("AMQP_PORT")),
            QStringLiteral("--vhost"),    QStringLiteral("corvane"),
            QStringLiteral("--username"), account(address),
            QStringLiteral("--password"), password(address)};
}
