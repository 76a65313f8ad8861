#pragma once

#include "arrivals.h"

#include <amqp.h>

#include <QString>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

// Lightweight receivers of the broker transport: the queue of each address, made as the
// catalog server makes a group's desktop's (the server's account, serverSettings), all
// consumed on one connection of the group's account (groupSettings) by one thread, which notes
// every delivery in arrivals (receiver i is the i-th address given). The queues of others are
// made as well, for receivers of their own. When serverSettings name a stream, each address
// is instead one consumer of the stream (attached at "next", prefetch 10, manual
// acknowledgements) on a channel of its own, ChannelsPerConnection channels a connection, the
// connections spread over the nodes the settings list (the first on the firstNode-th), one
// thread each.
class BrokerConsumers
{
public:
    static const int ChannelsPerConnection = 500;

    BrokerConsumers(const std::vector<QString> &addresses, const std::vector<QString> &others,
                    Arrivals *arrivals, const QString &serverSettings, const QString &groupSettings,
                    int firstNode = 0);
    // Deletes every queue it made: the broadcast would still fill them while a later run is
    // measured.
    ~BrokerConsumers();
    BrokerConsumers(const BrokerConsumers &) = delete;
    BrokerConsumers &operator=(const BrokerConsumers &) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

private:
    // A connection with libvqs's settings from the file settings; nullptr when none.
    static amqp_connection_state_t connectAs(const QString &settings);
    bool check(const char *step);
    void run();
    // The stream's consumers, on connections of the account of settings.
    void consumeStream(int receivers, const QString &stream, const QString &settings);
    void runStream(amqp_connection_state_t connection);

    Arrivals *m_arrivals;
    std::vector<QString> m_queues; // every queue made
    QString m_serverSettings;
    int m_firstNode;
    amqp_connection_state_t m_connection = nullptr;
    QString m_error;
    std::map<std::string, int> m_receivers; // consumer tag to receiver
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<amqp_connection_state_t> m_streamConnections;
    std::vector<std::thread> m_streamThreads;
};
