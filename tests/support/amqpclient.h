#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

#include <amqp.h>

class BrokerNode;

// A plain AMQP 0-9-1 client (rabbitmq-c, not libvqs), for trying on a private node what an
// account may do. Each call runs on a channel of its own and returns the broker's answer: "ok",
// or the text the broker closed the channel (or the connection) with, such as
// "ACCESS_REFUSED - access to exchange 'corvane' in vhost 'corvane' refused for user ...".
class AmqpClient
{
public:
    // Queue and exchange arguments whose values are strings (alternate-exchange,
    // x-dead-letter-exchange).
    using Arguments = QVector<QPair<QString, QString>>;

    AmqpClient(int port, const QString &vhost, const QString &user, const QString &password);
    // Logged in to the node's "corvane" virtual host as the account of address.
    AmqpClient(BrokerNode &node, const QString &address);
    ~AmqpClient();
    AmqpClient(const AmqpClient &) = delete;
    AmqpClient &operator=(const AmqpClient &) = delete;

    // "ok" once logged in, else why not.
    QString loginAnswer() const { return m_login; }

    QString declareExchange(const QString &name, const Arguments &arguments = {});
    QString deleteExchange(const QString &name);
    QString bindExchange(const QString &destination, const QString &source, const QString &key);
    // An empty name asks the broker for a name of its own.
    QString declareQueue(const QString &name, const Arguments &arguments = {});
    QString deleteQueue(const QString &name);
    QString bindQueue(const QString &queue, const QString &exchange, const QString &key);
    QString unbindQueue(const QString &queue, const QString &exchange, const QString &key);
    QString purgeQueue(const QString &name);
    QString consume(const QString &queue);
    // Reads the stream from its first message on, as a consumer with manual acknowledgements;
    // "ok" once a message whose body is wanted has come (its offset in *offset), "not found"
    // when none came for 30 s.
    QString readStream(const QString &stream, const QByteArray &wanted, qint64 *offset = nullptr);
    // Takes one message (left in the queue: the channel closes unacknowledged); its body in
    // *body, empty when the queue had none.
    QString get(const QString &queue, QByteArray *body = nullptr);
    // Publishes with confirms, mandatory; "ok" when the broker confirms it and some queue took
    // it, "unroutable" when none did. userId and cc, when given, become the user-id property
    // and the CC header.
    QString publish(const QString &exchange, const QString &key, const QByteArray &body,
                    const QString &userId = QString(), const QStringList &cc = QStringList());

private:
    // Opens the next channel; false (with the answer in *answer) when it cannot be.
    bool openChannel(QString *answer);
    // The answer to the last call on the current channel, which is closed afterwards.
    QString answer(amqp_rpc_reply_t reply);
    // Handles a channel or connection close the broker sent; its text.
    QString closedBy(const amqp_method_t &method);
    void closeChannel();

    amqp_connection_state_t m_connection = nullptr;
    amqp_channel_t m_channel = 0; // the one in use; 0: none
    amqp_channel_t m_lastChannel = 0;
    bool m_open = false;
    QString m_login;
};
