#pragma once

#include <QProcess>
#include <QString>

// python3 -m http.server on a free loopback port, serving one directory, for wget.
class HttpServer
{
public:
    explicit HttpServer(const QString &directory);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    bool isRunning() const { return m_port > 0; }
    int port() const { return m_port; }
    QString url() const; // http://127.0.0.1:PORT/
    void stop();

private:
    QProcess m_process;
    int m_port = 0;
};
