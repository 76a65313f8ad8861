#include "brokersetup.h"

#include "mqaid.h"
#include "vqsbroker.h"

namespace BrokerSetup
{

void prepare()
{
    if (!vqs_broadcast_address())
        return;
    amqp_rpc_reply_t reply;
    amqp_connection_state_t connection = vqs_broker_connect(&reply);
    die_on_amqp_error(reply, "catalog-server: connecting to the broker");
    // The catalog server owns the exchange; desktops' accounts may not declare it.
    amqp_exchange_declare(connection, 1, amqp_cstring_bytes(vqs_broker_exchange()),
                          amqp_cstring_bytes("topic"), 0, 1, 0, 0, amqp_empty_table);
    die_on_amqp_error(amqp_get_rpc_reply(connection), "catalog-server: declaring the exchange");
    die_on_amqp_error(amqp_connection_close(connection, AMQP_REPLY_SUCCESS),
                      "catalog-server: leaving the broker");
    die_on_error(amqp_destroy_connection(connection), "catalog-server: leaving the broker");
}

} // namespace BrokerSetup
