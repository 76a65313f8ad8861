#pragma once

#include <amqp.h>

#include <QString>

// The broker the transport goes through, as the catalog server's account sets it up: the
// topic exchange every desktop's queue is bound to, the exchange that reaches the server, and
// the server's own queue, made before the server receives; later the queues of a group
// account's desktops, which that account cannot make. Does nothing with direct TCP.
class BrokerSetup
{
public:
    BrokerSetup() = default;
    ~BrokerSetup();
    BrokerSetup(const BrokerSetup &) = delete;
    BrokerSetup &operator=(const BrokerSetup &) = delete;

    // A failure ends the program with libmqaid's line saying what the broker answered.
    static void prepare();

    // Makes the queue of the desktop at address (bound to it, and to the broadcast address
    // unless the settings name a stream for the pushes) unless it exists. False with *error set
    // to the broker's answer.
    bool makeDesktopQueue(const QString &address, QString *error);

private:
    bool connect(QString *error);
    void disconnect();

    amqp_connection_state_t m_connection = nullptr;
    amqp_channel_t m_channel = 1;
};
