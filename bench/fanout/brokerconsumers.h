#pragma once

#include "arrivals.h"

#include <amqp.h>

#include <QString>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

// Lightweight receivers of the broker transport: a durable queue for each address, bound to
// the address and the broadcast address as a desktop's queue is, all consumed on one
// connection (libvqs's settings in VQS_CONFIG) by one thread, which notes every delivery in
// arrivals (receiver i is the i-th address given).
class BrokerConsumers
{
public:
    BrokerConsumers(const std::vector<QString> &addresses, Arrivals *arrivals);
    // Deletes the queues, and those named with removeAtEnd: the broadcast would still fill
    // them while a later run is measured.
    ~BrokerConsumers();
    BrokerConsumers(const BrokerConsumers &) = delete;
    BrokerConsumers &operator=(const BrokerConsumers &) = delete;

    // One more queue to delete at the end (the real receiver's).
    void removeAtEnd(const QString &queue) { m_queues.push_back(queue); }
    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

private:
    bool check(const char *step);
    void run();

    Arrivals *m_arrivals;
    std::vector<QString> m_queues;
    amqp_connection_state_t m_connection = nullptr;
    QString m_error;
    std::map<std::string, int> m_receivers; // consumer tag to receiver
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
