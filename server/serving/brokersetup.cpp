#include "serving/brokersetup.h"

#include "mqaid.h"
#include "vqs.h"
#include "vqsbroker.h"

#include <cstdio>
#include <cstdlib>

BrokerSetup::~BrokerSetup()
{
    disconnect();
}

void BrokerSetup::prepare()
{
    if (!vqs_broadcast_address())
        return;
    amqp_rpc_reply_t reply;
    amqp_connection_state_t connection = vqs_broker_connect(&reply);
    die_on_amqp_error(reply, "catalog-server: connecting to the broker");
    // The catalog server owns the exchanges; desktops' accounts may configure nothing.
    amqp_exchange_declare(connection, 1, amqp_cstring_bytes(vqs_broker_exchange()),
                          amqp_cstring_bytes("topic"), 0, 1, 0, 0, amqp_empty_table);
    die_on_amqp_error(amqp_get_rpc_reply(connection), "catalog-server: declaring the exchange");
    // A topic exchange as well: the broker checks a desktop's routing key against its topic
    // rights there, so a message to anyone but the server is refused, not just lost.
    amqp_exchange_declare(connection, 1, amqp_cstring_bytes(vqs_broker_server_exchange()),
                          amqp_cstring_bytes("topic"), 0, 1, 0, 0, amqp_empty_table);
    die_on_amqp_error(amqp_get_rpc_reply(connection),
                      "catalog-server: declaring the server exchange");
    amqp_channel_t channel = 1;
    char why[1024];
    if (vqs_broker_make_server_queue(connection, &channel, why, sizeof why) != 0) {
        std::fprintf(stderr, "catalog-server: making its queue: %s\n", why);
        std::exit(1);
    }
    die_on_amqp_error(amqp_connection_close(connection, AMQP_REPLY_SUCCESS),
                      "catalog-server: leaving the broker");
    die_on_error(amqp_destroy_connection(connection), "catalog-server: leaving the broker");
}

bool BrokerSetup::connect(QString *error)
{
    if (m_connection)
        return true;
    amqp_rpc_reply_t reply;
    m_connection = vqs_broker_connect(&reply);
    m_channel = 1;
    if (m_connection && reply.reply_type == AMQP_RESPONSE_NORMAL)
        return true;
    *error = QStringLiteral("cannot reach the broker");
    disconnect();
    return false;
}

void BrokerSetup::disconnect()
{
    if (m_connection)
        amqp_destroy_connection(m_connection);
    m_connection = nullptr;
}

bool BrokerSetup::makeDesktopQueue(const QString &address, QString *error)
{
    const QByteArray name = address.toLatin1();
    char why[1024];
    // An idle connection may have been closed by the broker meanwhile: one more try on a new one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connect(error))
            return false;
        if (vqs_broker_make_desktop_queue(m_connection, &m_channel, name.constData(), why,
                                          sizeof why) == 0)
            return true;
        *error = QString::fromUtf8(why);
        disconnect();
    }
    return false;
}
