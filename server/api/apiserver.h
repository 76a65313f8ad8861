#pragma once

#include "api/apirouter.h"

#include <QByteArray>
#include <QString>

struct MHD_Daemon;

// The API's HTTP server (libmicrohttpd, TLS through GnuTLS) on one thread of its own, which
// also runs the router. Plain HTTP only on a loopback address. Bounds: the request's headers
// (MaxHeaderBytes), its body (MaxBodyBytes), how long a client may stay silent (IdleSeconds),
// connections in all and per address.
class ApiServer
{
public:
    struct Settings {
        QString address = QStringLiteral("127.0.0.1");
        quint16 port = 0;       // 0: any free one
        QByteArray certificate; // PEM; empty: plain HTTP, loopback only
        QByteArray key;
        int maxConnections = 256;
        int connectionsPerAddress = 16;
    };
    static constexpr int MaxHeaderBytes = 16 * 1024;
    static constexpr int MaxBodyBytes = 1024 * 1024;
    static constexpr int IdleSeconds = 10;

    explicit ApiServer(ApiRouter *router) : m_router(router) {}
    ~ApiServer();
    ApiServer(const ApiServer &) = delete;
    ApiServer &operator=(const ApiServer &) = delete;

    bool start(const Settings &settings, QString *error);
    void stop();
    // The port it listens on once started.
    quint16 port() const;
    bool isTls() const { return m_tls; }

    // libmicrohttpd's callbacks, for its C interface only.
    struct Exchange;
    int answer(void *connection, const char *url, const char *method, const char *uploadData,
               size_t *uploadDataSize, void **state);

private:
    ApiRouter *const m_router;
    MHD_Daemon *m_daemon = nullptr;
    QByteArray m_certificate; // kept while the daemon runs: it reads them in place
    QByteArray m_key;
    bool m_tls = false;
};
