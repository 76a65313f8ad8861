#pragma once

#include <QProcess>
#include <QString>

// python3 -m http.server on a free loopback port, serving one directory, for wget; with a
// certificate and its key, over TLS (https://localhost:PORT/).
class HttpServer
{
public:
    explicit HttpServer(const QString &directory, const QString &certificate = QString(),
                        const QString &key = QString());
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    bool isRunning() const { return m_port > 0; }
    int port() const { return m_port; }
    QString url() const; // http://127.0.0.1:PORT/ or https://localhost:PORT/
    void stop();

private:
    QProcess m_process;
    int m_port = 0;
    bool m_tls = false;
};
