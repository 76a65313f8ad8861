#include "brokerconsumers.h"

#include "vqs.h"
#include "vqsbroker.h"

#include <amqp_tcp_socket.h>

#include <QFile>
#include <QRegularExpression>

#include <sys/time.h>

namespace
{

// The value of key in a libvqs settings file (the last line wins, as in libvqs).
QString settingOf(const QString &settings, const QString &key)
{
    QFile file(settings);
    QString value;
    if (!file.open(QIODevice::ReadOnly))
        return value;
    const QRegularExpression line(QStringLiteral("^\\s*%1\\s*=\\s*(.*?)\\s*$").arg(key));
    for (const QByteArray &text : file.readAll().split('\n')) {
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(text));
        if (match.hasMatch())
            value = match.captured(1);
    }
    return value;
}

// A connection to the index-th node of settings' url list that carries channels channels.
amqp_connection_state_t login(const QString &settings, int index, int channels)
{
    const QStringList urls = settingOf(settings, QStringLiteral("url"))
                                 .split(QRegularExpression("[\\s,]+"), Qt::SkipEmptyParts);
    if (urls.isEmpty())
        return nullptr;
    QByteArray url = urls[index % urls.size()].toUtf8();
    const QByteArray user = settingOf(settings, QStringLiteral("user")).toUtf8();
    const QByteArray password = settingOf(settings, QStringLiteral("password")).toUtf8();
    amqp_connection_info info;
    if (amqp_parse_url(url.data(), &info) != AMQP_STATUS_OK)
        return nullptr;
    amqp_connection_state_t connection = amqp_new_connection();
    amqp_socket_t *socket = amqp_tcp_socket_new(connection);
    if (!socket || amqp_socket_open(socket, info.host, info.port) != AMQP_STATUS_OK ||
        amqp_login(connection, info.vhost, channels, AMQP_DEFAULT_FRAME_SIZE, 0,
                   AMQP_SASL_METHOD_PLAIN, user.constData(), password.constData())
                .reply_type != AMQP_RESPONSE_NORMAL) {
        amqp_destroy_connection(connection);
        return nullptr;
    }
    return connection;
}

} // namespace

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
                                 const QString &serverSettings, const QString &groupSettings,
                                 int firstNode)
    : m_arrivals(arrivals), m_queues(addresses), m_serverSettings(serverSettings),
      m_firstNode(firstNode)
{
    // With a stream only the others' queues are made: the receivers read the stream.
    const QString stream = settingOf(serverSettings, QStringLiteral("stream"));
    if (!stream.isEmpty())
        m_queues.clear();
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
    if (!stream.isEmpty()) {
        if (m_error.isEmpty())
            consumeStream(int(addresses.size()), stream, groupSettings);
        return;
    }
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

void BrokerConsumers::consumeStream(int receivers, const QString &stream, const QString &settings)
{
    const QByteArray name = stream.toUtf8();
    amqp_table_entry_t next;
    next.key = amqp_cstring_bytes("x-stream-offset");
    next.value.kind = AMQP_FIELD_KIND_UTF8;
    next.value.value.bytes = amqp_cstring_bytes("next");
    const amqp_table_t arguments{1, &next};
    for (int first = 0; first < receivers; first += ChannelsPerConnection) {
        amqp_connection_state_t connection = login(
            settings, m_firstNode + int(m_streamConnections.size()), ChannelsPerConnection + 1);
        if (!connection) {
            m_error = QStringLiteral("no connection to the broker for the stream");
            return;
        }
        m_streamConnections.push_back(connection);
        m_connection = connection;
        const int last = std::min(receivers, first + ChannelsPerConnection);
        for (int r = first; r < last; ++r) {
            const amqp_channel_t channel = amqp_channel_t(r - first + 1);
            amqp_channel_open(connection, channel);
            if (!check("a channel"))
                return;
            amqp_basic_qos(connection, channel, 0, 10, 0);
            if (!check("the prefetch"))
                return;
            // The receiver's number as its consumer tag.
            const QByteArray tag = QByteArray::number(r);
            amqp_basic_consume(connection, channel, amqp_cstring_bytes(name.constData()),
                               amqp_cstring_bytes(tag.constData()), 0, 0, 0, arguments);
            if (!check("consuming the stream"))
                return;
        }
    }
    m_connection = nullptr;
    for (amqp_connection_state_t connection : m_streamConnections)
        m_streamThreads.emplace_back([this, connection] { runStream(connection); });
}

void BrokerConsumers::runStream(amqp_connection_state_t connection)
{
    while (!m_stop) {
        amqp_maybe_release_buffers(connection);
        amqp_envelope_t envelope;
        struct timeval wait = {0, 100000};
        const amqp_rpc_reply_t reply = amqp_consume_message(connection, &envelope, &wait, 0);
        if (reply.reply_type != AMQP_RESPONSE_NORMAL)
            continue;
        const auto now = Arrivals::Clock::now();
        m_arrivals->note(QByteArray(static_cast<const char *>(envelope.consumer_tag.bytes),
                                    int(envelope.consumer_tag.len))
                             .toInt(),
                         now);
        amqp_basic_ack(connection, envelope.channel, envelope.delivery_tag, 0);
        amqp_destroy_envelope(&envelope);
    }
}

BrokerConsumers::~BrokerConsumers()
{
    m_stop = true;
    for (std::thread &thread : m_streamThreads)
        thread.join();
    for (amqp_connection_state_t connection : m_streamConnections) {
        amqp_connection_close(connection, AMQP_REPLY_SUCCESS);
        amqp_destroy_connection(connection);
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_connection && m_streamConnections.empty()) {
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
