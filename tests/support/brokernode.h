#pragma once

#include "processrunner.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private RabbitMQ node for one test executable or benchmark, started by scripts/broker and
// stopped with this object. Its accounts: the catalog server at ServerAddress, one account of
// its own (and a queue the set-up made) for each of DesktopAccounts desktops 10.76.0.x, and
// one group account for every other desktop address 10.77.x.y, whose queue the catalog server
// makes when it first hears from it. With nodes > 1, a cluster of that many nodes with quorum
// queues, whose settings files list every node.
class BrokerNode
{
public:
    static const char *const ServerAddress;
    static const int DesktopAccounts = 80;

    explicit BrokerNode(int nodes = 1);
    ~BrokerNode();
    BrokerNode(const BrokerNode &) = delete;
    BrokerNode &operator=(const BrokerNode &) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    QString directory() const { return m_dir.path(); }
    int nodes() const { return m_nodes; }
    // The folder of one node of a cluster (node counts from 0); of the node itself otherwise.
    QString nodeDirectory(int node = 0) const;

    // A libvqs settings file for address (the catalog server's account for ServerAddress, the
    // desktop's own or the group's otherwise); each of extra is one more "key = value" line,
    // which wins over the same key above it.
    QString settingsFor(const QString &address, const QStringList &extra = QStringList());
    // The options of amqp-tools that reach the node as the account of address.
    QStringList clientToolArguments(const QString &address);
    // The account of address and its password.
    QString account(const QString &address);
    QString password(const QString &address);
    // A desktop address with an account and a queue of its own that no earlier call gave,
    // its queue emptied, so that no test meets another's messages.
    QString freshAddress();
    // A desktop address of the group account no earlier call gave; it has no queue yet.
    QString groupAddress();

    // Stops the node and starts it again on the same data, as a restarted broker.
    bool stop();
    bool start();
    // kill -9 of the node's Erlang VM, as a machine that fails; true once it is gone.
    bool killVm(int node = 0);
    // Starts a cluster's node again on its data after killVm; true once it runs.
    bool startNode(int node);
    // Stops the node's VM where it stands, as a machine that hangs: its peers and clients
    // hear nothing until killVm ends it.
    bool freezeVm(int node);
    // True when the account of address has a connection to the node (to the cluster).
    bool isConnected(const QString &address);
    // The cluster's node (from 0) where the account of address has a connection; -1: none.
    int nodeOf(const QString &address);
    // The cluster's node (from 0) holding the leader of queue (or stream), or the classic
    // queue; -1: none.
    int leaderOf(const QString &queue) const;
    // scripts/broker accounts on the node, as on a system's RabbitMQ: accounts is its account
    // options; the settings files go into directory.
    ProcessResult addAccounts(const QStringList &accounts, const QString &directory) const;
    // rabbitmqctl on the node (a cluster's first node that runs).
    ProcessResult ctl(const QStringList &arguments) const;
    // NODE, URL, TLS_URL, CACERT, AMQP_PORT or AMQPS_PORT of the node (of a cluster's node).
    QString value(const QString &key, int node = 0) const;
    // What the node has logged so far.
    QString log() const;
    // scripts/broker with arguments.
    ProcessResult script(const QStringList &arguments) const;
    // The value of key in the settings file of address.
    QString setting(const QString &address, const char *key);

private:
    QTemporaryDir m_dir;
    int m_nodes;
    QString m_error;
    int m_files = 0;
    int m_addresses = 0;
    int m_groupAddresses = 0;
    bool m_running = false;
    QSet<int> m_killed; // a cluster's nodes killed and not started again
};
