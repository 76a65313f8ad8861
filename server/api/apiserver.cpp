#include "api/apiserver.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

struct ApiServer::Exchange {
    QByteArray body;
    bool tooLarge = false;
};

namespace
{

MHD_Result onRequest(void *self, MHD_Connection *connection, const char *url, const char *method,
                     const char *, const char *uploadData, size_t *uploadDataSize, void **state)
{
    return static_cast<ApiServer *>(self)->answer(connection, url, method, uploadData,
                                                  uploadDataSize, state)
               ? MHD_YES
               : MHD_NO;
}

void onCompleted(void *, MHD_Connection *, void **state, MHD_RequestTerminationCode)
{
    delete static_cast<ApiServer::Exchange *>(*state);
    *state = nullptr;
}

MHD_Result countArgument(void *count, MHD_ValueKind, const char *, const char *)
{
    ++*static_cast<int *>(count);
    return MHD_YES;
}

QString peerOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return QString();
    return QHostAddress(info->client_addr).toString();
}

int send(MHD_Connection *connection, const ApiRouter::Response &answer, bool tls)
{
    MHD_Response *response = MHD_create_response_from_buffer(
        size_t(answer.body.size()), const_cast<char *>(answer.body.constData()),
        MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, "Content-Type", answer.contentType.constData());
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    if (!answer.contentSecurityPolicy.isEmpty())
        MHD_add_response_header(response, "Content-Security-Policy",
                                answer.contentSecurityPolicy.constData());
    if (answer.askCredentials)
        MHD_add_response_header(response, "WWW-Authenticate",
                                "Basic realm=\"corvane\", charset=\"UTF-8\"");
    if (tls)
        MHD_add_response_header(response, "Strict-Transport-Security", "max-age=31536000");
    const MHD_Result queued = MHD_queue_response(connection, unsigned(answer.status), response);
    MHD_destroy_response(response);
    return queued == MHD_YES;
}

ApiRouter::Response tooLarge()
{
    return {413, "application/json", "{\"error\":\"the body is too large\"}", {}, false};
}

} // namespace

ApiServer::~ApiServer()
{
    stop();
}

int ApiServer::answer(void *handle, const char *url, const char *method, const char *uploadData,
                      size_t *uploadDataSize, void **state)
{
    auto *connection = static_cast<MHD_Connection *>(handle);
    if (!*state) {
        auto *exchange = new Exchange;
        *state = exchange;
        // Refused before any of the body is read when its length says it is too large.
        const char *length =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
        if (length && QByteArray(length).toLongLong() > MaxBodyBytes) {
            exchange->tooLarge = true;
            return send(connection, tooLarge(), m_tls);
        }
        return 1;
    }
    auto *exchange = static_cast<Exchange *>(*state);
    if (*uploadDataSize > 0) {
        if (!exchange->tooLarge &&
            exchange->body.size() + qint64(*uploadDataSize) <= qint64(MaxBodyBytes))
            exchange->body.append(uploadData, int(*uploadDataSize));
        else
            exchange->tooLarge = true;
        *uploadDataSize = 0;
        return 1;
    }
    if (exchange->tooLarge)
        return send(connection, tooLarge(), m_tls);
    ApiRouter::Request request;
    request.method = method;
    request.path = QString::fromUtf8(url);
    int arguments = 0;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, countArgument, &arguments);
    request.hasQuery = arguments > 0;
    request.credentials = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Authorization");
    request.contentType = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Type");
    request.body = exchange->body;
    request.peer = peerOf(connection);
    return send(connection, m_router->handle(request), m_tls);
}

bool ApiServer::start(const Settings &settings, QString *error)
{
    const QHostAddress address(settings.address);
    if (address.isNull() || address.protocol() != QAbstractSocket::IPv4Protocol) {
        *error =
            QStringLiteral("api-listen: an IPv4 address and port, not %1").arg(settings.address);
        return false;
    }
    m_tls = !settings.certificate.isEmpty();
    if (!m_tls && !address.isLoopback()) {
        *error = QStringLiteral("api-listen: plain HTTP only on a loopback address; give "
                                "api-certificate and api-key");
        return false;
    }
    sockaddr_in bind{};
    bind.sin_family = AF_INET;
    bind.sin_port = htons(settings.port);
    bind.sin_addr.s_addr = htonl(address.toIPv4Address());
    m_certificate = settings.certificate + '\0';
    m_key = settings.key + '\0';
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL;
    if (m_tls)
        flags |= MHD_USE_TLS;
    // One thread answers every connection, so the router's database connection is its alone.
    m_daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &onRequest, this, MHD_OPTION_SOCK_ADDR, &bind,
        MHD_OPTION_NOTIFY_COMPLETED, &onCompleted, nullptr, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        size_t(MaxHeaderBytes), MHD_OPTION_CONNECTION_TIMEOUT, unsigned(IdleSeconds),
        MHD_OPTION_CONNECTION_LIMIT, unsigned(settings.maxConnections),
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, unsigned(settings.connectionsPerAddress),
        MHD_OPTION_STRICT_FOR_CLIENT, 1, m_tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END,
        m_certificate.constData(), MHD_OPTION_HTTPS_MEM_KEY, m_key.constData(),
        MHD_OPTION_HTTPS_PRIORITIES, "SECURE256:+SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2",
        MHD_OPTION_END);
    if (!m_daemon) {
        *error =
            QStringLiteral("api-listen: cannot listen on %1:%2%3")
                .arg(settings.address)
                .arg(settings.port)
                .arg(m_tls ? QStringLiteral(" (or the certificate and key are wrong)") : QString());
        return false;
    }
    return true;
}

void ApiServer::stop()
{
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

quint16 ApiServer::port() const
{
    if (!m_daemon)
        return 0;
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}
