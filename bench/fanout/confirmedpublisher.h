#pragma once

#include <amqp.h>

#include <QByteArray>
#include <QString>

// A connection of the account a libvqs settings file names, publishing as the catalog server
// does: persistent messages on libvqs's exchange, each waited for its confirm.
class ConfirmedPublisher
{
public:
    explicit ConfirmedPublisher(const QString &settings);
    ~ConfirmedPublisher();
    ConfirmedPublisher(const ConfirmedPublisher &) = delete;
    ConfirmedPublisher &operator=(const ConfirmedPublisher &) = delete;

    bool isValid() const { return m_connection != nullptr; }
    // One message to routing key; true once the broker has confirmed it.
    bool publish(const QByteArray &key, const QByteArray &body);

private:
    amqp_connection_state_t m_connection = nullptr;
};
