#include "brokernode.h"

#include "accountaccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifndef CORVANE_BROKER_SCRIPT
#error "CORVANE_BROKER_SCRIPT must name scripts/broker"
#endif

const char *const BrokerNode::ServerAddress = "10.77.0.1";

namespace
{

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

BrokerNode::BrokerNode()
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
    const ProcessResult started = script(
        {QStringLiteral("start"), m_dir.path(), QStringLiteral("--server"),
         QString::fromLatin1(ServerAddress), QStringLiteral("--group"), QStringLiteral("10.77"),
         QStringLiteral("--owner"), QString::number(QCoreApplication::applicationPid())});
    m_running = started.exitCode == 0;
    if (!m_running)
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

ProcessResult BrokerNode::ctl(const QStringList &arguments) const
{
    return script(QStringList{QStringLiteral("ctl"), m_dir.path()} + arguments);
}

ProcessResult BrokerNode::addAccounts(const QStringList &accounts, const QString &directory) const
{
    return script(QStringList{QStringLiteral("accounts"), QStringLiteral("--node"),
                              value(QStringLiteral("NODE")), QStringLiteral("--url"),
                              value(QStringLiteral("URL")), QStringLiteral("--cacert"),
                              value(QStringLiteral("CACERT")), QStringLiteral("--out"), directory} +
                  accounts);
}

QString BrokerNode::value(const QString &key) const
{
    const QRegularExpression line(QStringLiteral("^") + QRegularExpression::escape(key) +
                                      QStringLiteral("=(.*)$"),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(readAll(m_dir.path() + QStringLiteral("/node.env"))))
        .captured(1);
}

QString BrokerNode::log() const
{
    return QString::fromUtf8(readAll(m_dir.path() + QStringLiteral("/node/log/") +
                                     value(QStringLiteral("NODE")) + QStringLiteral(".log")));
}

QString BrokerNode::settingsFor(const QString &address, const QStringList &extra)
{
    const bool server = address == QLatin1String(ServerAddress);
    QByteArray text = readAll(m_dir.path() + (server ? QStringLiteral("/vqs-server.conf")
                                                     : QStringLiteral("/vqs-group-10.77.conf")));
    if (!server)
        text += "address = " + address.toUtf8() + '\n';
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
    ++m_addresses;
    return QStringLiteral("10.77.%1.%2").arg(m_addresses / 250 + 1).arg(m_addresses % 250 + 1);
}

QStringList BrokerNode::clientToolArguments(const QString &address)
{
    const QString settings = QString::fromUtf8(readAll(settingsFor(address)));
    auto setting = [&](const char *key) {
        return QRegularExpression(QStringLiteral("^%1 = (.*)$").arg(QLatin1String(key)),
                                  QRegularExpression::MultilineOption)
            .match(settings)
            .captured(1);
    };
    return {QStringLiteral("--server"),   QStringLiteral("127.0.0.1"),
            QStringLiteral("--port"),     value(QStringLiteral("AMQP_PORT")),
            QStringLiteral("--vhost"),    QStringLiteral("corvane"),
            QStringLiteral("--username"), setting("user"),
            QStringLiteral("--password"), setting("password")};
}
