#include "amqpclient.h"

#include "brokernode.h"

#include <amqp_tcp_socket.h>

#include <sys/time.h>

namespace
{

const int WaitSeconds = 30;

QString text(amqp_bytes_t bytes)
{
    return QString::fromUtf8(static_cast<const char *>(bytes.bytes), int(bytes.len));
}

amqp_bytes_t bytesOf(const QByteArray &data)
{
    return amqp_bytes_t{size_t(data.size()), const_cast<char *>(data.constData())};
}

// Keeps the bytes a table points into for as long as it is used.
struct Table {
    explicit Table(const AmqpClient::Arguments &arguments)
    {
        for (const auto &argument : arguments)
            utf8 << argument.first.toUtf8() << argument.second.toUtf8();
        for (int i = 0; i < utf8.size(); i += 2) {
            amqp_table_entry_t entry;
            entry.key = bytesOf(utf8[i]);
            entry.value.kind = AMQP_FIELD_KIND_UTF8;
            entry.value.value.bytes = bytesOf(utf8[i + 1]);
            entries.push_back(entry);
        }
        table.num_entries = entries.size();
        table.entries = entries.data();
    }
    QByteArrayList utf8;
    QVector<amqp_table_entry_t> entries;
    amqp_table_t table{};
};

} // namespace

AmqpClient::AmqpClient(BrokerNode &node, const QString &address)
    : AmqpClient(node.value(QStringLiteral("AMQP_PORT")).toInt(), QStringLiteral("corvane"),
                 node.account(address), node.password(address))
{
}

AmqpClient::AmqpClient(int port, const QString &vhost, const QString &user, const QString &password)
{
    m_connection = amqp_new_connection();
    amqp_socket_t *socket = amqp_tcp_socket_new(m_connection);
    timeval wait{WaitSeconds, 0};
    if (!socket || amqp_socket_open_noblock(socket, "127.0.0.1", port, &wait) != AMQP_STATUS_OK) {
        m_login = QStringLiteral("cannot connect");
        return;
    }
    amqp_set_rpc_timeout(m_connection, &wait);
    const amqp_rpc_reply_t login = amqp_login(
        m_connection, vhost.toUtf8().constData(), 0, AMQP_DEFAULT_FRAME_SIZE, 0,
        AMQP_SASL_METHOD_PLAIN, user.toUtf8().constData(), password.toUtf8().constData());
    m_open = login.reply_type == AMQP_RESPONSE_NORMAL;
    m_login = m_open ? QStringLiteral("ok") : answer(login);
}

AmqpClient::~AmqpClient()
{
    if (m_open)
        amqp_connection_close(m_connection, AMQP_REPLY_SUCCESS);
    amqp_destroy_connection(m_connection);
}

QString AmqpClient::closedBy(const amqp_method_t &method)
{
    if (method.id == AMQP_CHANNEL_CLOSE_METHOD) {
        const auto *m = static_cast<const amqp_channel_close_t *>(method.decoded);
        const QString said = text(m->reply_text);
        amqp_channel_close_ok_t ok{};
        amqp_send_method(m_connection, m_channel, AMQP_CHANNEL_CLOSE_OK_METHOD, &ok);
        m_channel = 0;
        return said;
    }
    if (method.id == AMQP_CONNECTION_CLOSE_METHOD) {
        const auto *m = static_cast<const amqp_connection_close_t *>(method.decoded);
        const QString said = text(m->reply_text);
        amqp_connection_close_ok_t ok{};
        amqp_send_method(m_connection, 0, AMQP_CONNECTION_CLOSE_OK_METHOD, &ok);
        m_open = false;
        return said;
    }
    return QStringLiteral("unexpected method 0x%1").arg(method.id, 8, 16, QLatin1Char('0'));
}

QString AmqpClient::answer(amqp_rpc_reply_t reply)
{
    QString said;
    switch (reply.reply_type) {
    case AMQP_RESPONSE_NORMAL:
        said = QStringLiteral("ok");
        break;
    case AMQP_RESPONSE_SERVER_EXCEPTION:
        said = closedBy(reply.reply);
        break;
    case AMQP_RESPONSE_LIBRARY_EXCEPTION:
        said = QString::fromUtf8(amqp_error_string2(reply.library_error));
        m_open = false;
        break;
    default:
        said = QStringLiteral("no answer");
        m_open = false;
    }
    closeChannel();
    return said;
}

void AmqpClient::closeChannel()
{
    if (m_open && m_channel)
        amqp_channel_close(m_connection, m_channel, AMQP_REPLY_SUCCESS);
    m_channel = 0;
}

bool AmqpClient::openChannel(QString *said)
{
    if (!m_open) {
        *said = QStringLiteral("not connected: ") + m_login;
        return false;
    }
    m_channel = ++m_lastChannel;
    amqp_channel_open(m_connection, m_channel);
    const amqp_rpc_reply_t reply = amqp_get_rpc_reply(m_connection);
    if (reply.reply_type == AMQP_RESPONSE_NORMAL)
        return true;
    *said = answer(reply);
    return false;
}

QString AmqpClient::declareExchange(const QString &name, const Arguments &arguments)
{
    QString said;
    if (!openChannel(&said))
        return said;
    const Table table(arguments);
    amqp_exchange_declare(m_connection, m_channel, amqp_cstring_bytes(name.toUtf8().constData()),
                          amqp_cstring_bytes("topic"), 0, 1, 0, 0, table.table);
    return answer(amqp_get_rpc_reply(m_connection));
}

QString AmqpClient::deleteExchange(const QString &name)
{
    QString said;
    if (!openChannel(&said))
        return said;
    amqp_exchange_delete(m_connection, m_channel, amqp_cstring_bytes(name.toUtf8().constData()), 0);
    return answer(amqp_get_rpc_reply(m_connection));
}

QString AmqpClient::bindExchange(const QString &destination, const QString &source,
                                 const QString &key)
{
    QString said;
    if (!openChannel(&said))
        return said;
    const QByteArray d = destination.toUtf8(), s = source.toUtf8(), k = key.toUtf8();
    amqp_exchange_bind(m_connection, m_channel, bytesOf(d), bytesOf(s), bytesOf(k),
                       amqp_empty_table);
    return answer(amqp_get_rpc_reply(m_connection));
}

QString AmqpClient::declareQueue(const QString &name, const Arguments &arguments)
{
    QString said;
    if (!openChannel(&said))
        return said;
    const Table table(arguments);
    const QByteArray n = name.toUtf8();
    amqp_queue_declare(m_connection, m_channel, bytesOf(n), 0, 1, 0, 0, table.table);
    return answer(amqp_get_rpc_reply(m_connection));
}

QString AmqpClient::deleteQueue(const QString &name)
{
    QString said;
    if (!openChannel(&said))
        return said;
    const QByteArray n = name.toUtf8();
    amqp_queue_delete(m_connection, m_channel, bytesOf(n), 0, 0);
    return answer(amqp_get_rpc_reply(m_connection));
}

QString AmqpClient::bindQueue(const QString &queue, const QString &exchange, const QString &key)
{
    QString said;
    if (!openChannel(&said))
        return said;
    const QByteArray q = queue.toUtf8(), e = exchange.toUtf8(), k = key.toUtf8();
    amqp_queue_bind(m_connection, m_channel, bytesOf(q), bytesOf(e), bytesOf(k), amqp_empty_table);
    return answer(amqp_get_rpc_reply(m_connection));
}

QString AmqpClient::unbindQueue(const QString &queue, const QString &exchange, const QString &key)
{
    QString said;
    if (!openChannel(&said))
        return said;
    const QByteArray q = queue.toUtf8(), e = exchange.toUtf8(), k = key.toUtf8();
    amqp_queue_unbind(m_connection, m_channel, bytesOf(q), bytesOf(e), bytesOf(k),
                      amqp_empty_table);
    return answer(amqp_get_rpc_reply(m_connection));
}

QString AmqpClient::purgeQueue(const QString &name)
{
    QString said;
    if (!openChannel(&said))
        return said;
    const QByteArray n = name.toUtf8();
    amqp_queue_purge(m_connection, m_channel, bytesOf(n));
    return answer(amqp_get_rpc_reply(m_connection));
}

QString AmqpClient::consume(const QString &queue)
{
    QString said;
    if (!openChannel(&said))
        return said;
    const QByteArray q = queue.toUtf8();
    amqp_basic_consume(m_connection, m_channel, bytesOf(q), amqp_empty_bytes, 0, 0, 0,
                       amqp_empty_table);
    return answer(amqp_get_rpc_reply(m_connection));
}

QString AmqpClient::readStream(const QString &stream, const QByteArray &wanted, qint64 *offset)
{
    QString said;
    if (!openChannel(&said))
        return said;
    amqp_basic_qos(m_connection, m_channel, 0, 100, 0);
    const amqp_rpc_reply_t qos = amqp_get_rpc_reply(m_connection);
    if (qos.reply_type != AMQP_RESPONSE_NORMAL)
        return answer(qos);
    const QByteArray s = stream.toUtf8();
    amqp_table_entry_t first;
    first.key = amqp_cstring_bytes("x-stream-offset");
    first.value.kind = AMQP_FIELD_KIND_UTF8;
    first.value.value.bytes = amqp_cstring_bytes("first");
    const amqp_table_t arguments{1, &first};
    amqp_basic_consume(m_connection, m_channel, bytesOf(s), amqp_empty_bytes, 0, 0, 0, arguments);
    const amqp_rpc_reply_t consumed = amqp_get_rpc_reply(m_connection);
    if (consumed.reply_type != AMQP_RESPONSE_NORMAL)
        return answer(consumed);
    for (;;) {
        amqp_maybe_release_buffers(m_connection);
        amqp_envelope_t envelope;
        timeval wait{WaitSeconds, 0};
        const amqp_rpc_reply_t read = amqp_consume_message(m_connection, &envelope, &wait, 0);
        if (read.reply_type != AMQP_RESPONSE_NORMAL)
            return read.library_error == AMQP_STATUS_TIMEOUT ? QStringLiteral("not found")
                                                             : answer(read);
        const bool found = QByteArray(static_cast<const char *>(envelope.message.body.bytes),
                                      int(envelope.message.body.len)) == wanted;
        const amqp_table_t &headers = envelope.message.properties.headers;
        for (int i = 0; found && offset && i < headers.num_entries; ++i) {
            if (text(headers.entries[i].key) == QLatin1String("x-stream-offset"))
                *offset = headers.entries[i].value.value.i64;
        }
        amqp_basic_ack(m_connection, m_channel, envelope.delivery_tag, 0);
        amqp_destroy_envelope(&envelope);
        if (found) {
            closeChannel();
            return QStringLiteral("ok");
        }
    }
}

QString AmqpClient::get(const QString &queue, QByteArray *body)
{
    if (body)
        body->clear();
    QString said;
    if (!openChannel(&said))
        return said;
    const QByteArray q = queue.toUtf8();
    const amqp_rpc_reply_t reply = amqp_basic_get(m_connection, m_channel, bytesOf(q), 0);
    if (reply.reply_type == AMQP_RESPONSE_NORMAL && reply.reply.id == AMQP_BASIC_GET_OK_METHOD) {
        amqp_message_t message;
        const amqp_rpc_reply_t read = amqp_read_message(m_connection, m_channel, &message, 0);
        if (read.reply_type != AMQP_RESPONSE_NORMAL)
            return answer(read);
        if (body)
            *body =
                QByteArray(static_cast<const char *>(message.body.bytes), int(message.body.len));
        amqp_destroy_message(&message);
    }
    return answer(reply);
}

QString AmqpClient::publish(const QString &exchange, const QString &key, const QByteArray &body,
                            const QString &userId, const QStringList &cc)
{
    QString said;
    if (!openChannel(&said))
        return said;
    amqp_confirm_select(m_connection, m_channel);
    const amqp_rpc_reply_t selected = amqp_get_rpc_reply(m_connection);
    if (selected.reply_type != AMQP_RESPONSE_NORMAL)
        return answer(selected);

    const QByteArray e = exchange.toUtf8(), k = key.toUtf8(), user = userId.toUtf8();
    QByteArrayList ccBytes;
    for (const QString &c : cc)
        ccBytes << c.toUtf8();
    QVector<amqp_field_value_t> ccValues;
    for (const QByteArray &c : ccBytes) {
        amqp_field_value_t value;
        value.kind = AMQP_FIELD_KIND_UTF8;
        value.value.bytes = bytesOf(c);
        ccValues.push_back(value);
    }
    amqp_table_entry_t header;
    header.key = amqp_cstring_bytes("CC");
    header.value.kind = AMQP_FIELD_KIND_ARRAY;
    header.value.value.array.num_entries = ccValues.size();
    header.value.value.array.entries = ccValues.data();

    amqp_basic_properties_t props{};
    props._flags = AMQP_BASIC_DELIVERY_MODE_FLAG;
    props.delivery_mode = AMQP_DELIVERY_PERSISTENT;
    if (!userId.isEmpty()) {
        props._flags |= AMQP_BASIC_USER_ID_FLAG;
        props.user_id = bytesOf(user);
    }
    if (!cc.isEmpty()) {
        props._flags |= AMQP_BASIC_HEADERS_FLAG;
        props.headers.num_entries = 1;
        props.headers.entries = &header;
    }
    if (amqp_basic_publish(m_connection, m_channel, bytesOf(e), bytesOf(k), 1, 0, &props,
                           bytesOf(body)) != AMQP_STATUS_OK) {
        m_open = false;
        return QStringLiteral("cannot publish");
    }
    bool returned = false;
    for (;;) {
        amqp_frame_t frame;
        timeval wait{WaitSeconds, 0};
        if (amqp_simple_wait_frame_noblock(m_connection, &frame, &wait) != AMQP_STATUS_OK) {
            m_open = false;
            return QStringLiteral("no answer");
        }
        if (frame.frame_type != AMQP_FRAME_METHOD)
            continue; // the returned message's header and body
        switch (frame.payload.method.id) {
        case AMQP_BASIC_RETURN_METHOD:
            returned = true;
            break;
        case AMQP_BASIC_ACK_METHOD:
            closeChannel();
            return returned ? QStringLiteral("unroutable") : QStringLiteral("ok");
        case AMQP_BASIC_NACK_METHOD:
            closeChannel();
            return QStringLiteral("not kept");
        default:
            return closedBy(frame.payload.method);
        }
    }
}
