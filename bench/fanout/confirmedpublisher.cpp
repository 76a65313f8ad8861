#include "confirmedpublisher.h"

#include "vqs.h"
#include "vqsbroker.h"

ConfirmedPublisher::ConfirmedPublisher(const QString &settings)
{
    qputenv("VQS_CONFIG", settings.toUtf8());
    amqp_rpc_reply_t reply;
    m_connection = vqs_broker_connect(&reply);
    if (m_connection &&
        (reply.reply_type != AMQP_RESPONSE_NORMAL || !amqp_confirm_select(m_connection, 1))) {
        amqp_destroy_connection(m_connection);
        m_connection = nullptr;
    }
}

ConfirmedPublisher::~ConfirmedPublisher()
{
    if (!m_connection)
        return;
    amqp_connection_close(m_connection, AMQP_REPLY_SUCCESS);
    amqp_destroy_connection(m_connection);
}

bool ConfirmedPublisher::publish(const QByteArray &key, const QByteArray &body)
{
    if (!m_connection)
        return false;
    amqp_basic_properties_t props;
    props._flags = AMQP_BASIC_DELIVERY_MODE_FLAG;
    props.delivery_mode = AMQP_DELIVERY_PERSISTENT;
    if (amqp_basic_publish(
            m_connection, 1, amqp_cstring_bytes(vqs_broker_exchange()),
            amqp_bytes_t{size_t(key.size()), const_cast<char *>(key.constData())}, 0, 0, &props,
            amqp_bytes_t{size_t(body.size()), const_cast<char *>(body.constData())}) != 0)
        return false;
    amqp_frame_t confirm;
    return amqp_simple_wait_frame(m_connection, &confirm) == AMQP_STATUS_OK &&
           confirm.frame_type == AMQP_FRAME_METHOD &&
           confirm.payload.method.id == AMQP_BASIC_ACK_METHOD;
}
