#include "brokerconsumers.h"

#include "vqs.h"
#include "vqsbroker.h"

#include <sys/time.h>

amqp_connection_state_t BrokerConsumers::connectAs(const QString &settings)
{
    qputenv("VQS_CONFIG", settings.toUtf8());
    amqp_rpc_reply_t reply;
    amqp_connection_state_t connection = vqs_broker_connect(&reply);
    if (connection && reply.reply_type != AMQP_RESPONSE_NORMAL) {
        amqp_destroy_connection(connection);
        return nullptr;
    }
    return connection;
}

BrokerConsumers::BrokerConsumers(const std::vector<QString> &addresses,
                                 const std::vector<QString> &others, Arrivals *arrivals,
                                 const QString &serverSettings, const QString &groupSettings)
    : m_arrivals(arrivals), m_queues(addresses), m_serverSettings(serverSettings)
{
    m_queues.insert(m_queues.end(), others.begin(), others.end());
    amqp_connection_state_t admin = connectAs(serverSettings);
    if (!admin) {
        m_error = QStringLiteral("no connection to the broker as the catalog server");
        return;
    }
    amqp_channel_t channel = 1;
    char why[1024];
    for (const QString &queue : m_queues) {
        if (vqs_broker_make_desktop_queue(admin, &channel, queue.toLatin1().constData(), why,
                                          sizeof why) != 0) {
            m_error = QString::fromUtf8(why);
            break;
        }
    }
    amqp_connection_close(admin, AMQP_REPLY_SUCCESS);
    amqp_destroy_connection(admin);
    m_connection = connectAs(groupSettings);
    if (!m_error.isEmpty() || !m_connection) {
        m_error = m_error.isEmpty() ? QStringLiteral("no connection to the broker") : m_error;
        return;
    }
    for (size_t i = 0; i < m_queues.size(); ++i) {
        const QByteArray name = m_queues[i].toLatin1();
        const amqp_bytes_t queue = amqp_cstring_bytes(name.constData());
        // What an earlier run left there would count as this run's.
        amqp_queue_purge(m_connection, 1, queue);
        if (!check("emptying a queue"))
            return;
        if (i >= addresses.size())
            continue;
        const amqp_basic_consume_ok_t *ok =
            amqp_basic_consume(m_connection, 1, queue, amqp_empty_bytes, 0, 1, 0, amqp_empty_table);
        if (!check("consuming") || !ok)
            return;
        m_receivers[std::string(static_cast<const char *>(ok->consumer_tag.bytes),
                                ok->consumer_tag.len)] = int(i);
    }
    m_thread = std::thread([this] { run(); });
}

BrokerConsumers::~BrokerConsumers()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_connection) {
        amqp_connection_close(m_connection, AMQP_REPLY_SUCCESS);
        amqp_destroy_connection(m_connection);
    }
    // A later run must not pay for these queues: the broadcast would still fill them.
    amqp_connection_state_t admin = connectAs(m_serverSettings);
    if (!admin)
        return;
    for (const QString &queue : m_queues)
        amqp_queue_delete(admin, 1, amqp_cstring_bytes(queue.toLatin1().constData()), 0, 0);
    amqp_connection_close(admin, AMQP_REPLY_SUCCESS);
    amqp_destroy_connection(admin);
}

bool BrokerConsumers::check(const char *step)
{
    if (amqp_get_rpc_reply(m_connection).reply_type == AMQP_RESPONSE_NORMAL)
        return true;
    m_error = QStringLiteral("the broker refused %1").arg(QLatin1String(step));
    return false;
}

void BrokerConsumers::run()
{
    while (!m_stop) {
        amqp_maybe_release_buffers(m_connection);
        amqp_envelope_t envelope;
        struct timeval wait = {0, 100000};
        const amqp_rpc_reply_t reply = amqp_consume_message(m_connection, &envelope, &wait, 0);
        if (reply.reply_type == AMQP_RESPONSE_LIBRARY_EXCEPTION &&
            reply.library_error == AMQP_STATUS_UNEXPECTED_STATE) {
            amqp_frame_t frame;
            amqp_simple_wait_frame_noblock(m_connection, &frame, &wait);
        }
        if (reply.reply_type != AMQP_RESPONSE_NORMAL)
            continue;
        const auto now = Arrivals::Clock::now();
        const auto receiver = m_receivers.find(std::string(
            static_cast<const char *>(envelope.consumer_tag.bytes), envelope.consumer_tag.len));
        if (receiver != m_receivers.end())
            m_arrivals->note(receiver->second, now);
        amqp_destroy_envelope(&envelope);
    }
}
