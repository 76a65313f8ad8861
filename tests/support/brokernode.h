#pragma once

#include "processrunner.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private RabbitMQ node for one test executable or benchmark, started by scripts/broker and
// stopped with this object. Its accounts: the catalog server at ServerAddress and one group
// account for every desktop address 10.77.x.y.
class BrokerNode
{
public:
    static const char *const ServerAddress;

    BrokerNode();
    ~BrokerNode();
    BrokerNode(const BrokerNode &) = delete;
    BrokerNode &operator=(const BrokerNode &) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    QString directory() const { return m_dir.path(); }

    // A libvqs settings file for address (the catalog server's account for ServerAddress, the
    // desktops' otherwise); each of extra is one more "key = value" line, which wins over the
    // same key above it.
    QString settingsFor(const QString &address, const QStringList &extra = QStringList());
    // The options of amqp-tools that reach the node as the account of address.
    QStringList clientToolArguments(const QString &address);
    // A desktop address no earlier call gave, so that no test meets another's messages.
    QString freshAddress();

    // Stops the node and starts it again on the same data, as a restarted broker.
    bool stop();
    bool start();
    // scripts/broker accounts on the node, as on a system's RabbitMQ: accounts is its account
    // options; the settings files go into directory.
    ProcessResult addAccounts(const QStringList &accounts, const QString &directory) const;
    // rabbitmqctl on the node.
    ProcessResult ctl(const QStringList &arguments) const;
    // NODE, URL, TLS_URL, CACERT, AMQP_PORT or AMQPS_PORT of the node.
    QString value(const QString &key) const;
    // What the node has logged so far.
    QString log() const;
    // scripts/broker with arguments.
    ProcessResult script(const QStringList &arguments) const;

private:
    QTemporaryDir m_dir;
    QString m_error;
    int m_files = 0;
    int m_addresses = 0;
    bool m_running = false;
};
