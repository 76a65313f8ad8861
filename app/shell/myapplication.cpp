#include "shell/myapplication.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

#include <pwd.h>
#include <unistd.h>

namespace
{
constexpr int ConnectTimeoutMs = 1000;
constexpr int ReadTimeoutMs = 500;
} // namespace

MyApplication::MyApplication()
{
    QCoreApplication::setApplicationName(instanceName());
    const QString name = QCoreApplication::applicationName();

    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    if (socket.waitForConnected(ConnectTimeoutMs)) {
        m_isRunning = true;
        return;
    }

    m_localServer = new QLocalServer(this);
    // A copy that crashed leaves its socket file behind; it must not block this start.
    QLocalServer::removeServer(name);
    connect(m_localServer, &QLocalServer::newConnection, this, &MyApplication::newLocalConnection);
    if (!m_localServer->listen(name) &&
        m_localServer->serverError() == QAbstractSocket::AddressInUseError &&
        QFile::exists(m_localServer->fullServerName())) {
        QFile::remove(m_localServer->fullServerName());
        m_localServer->listen(name);
    }
}

bool MyApplication::isRunning() const
{
    return m_isRunning;
}

QString MyApplication::instanceName()
{
    const uid_t uid = getuid();
    // A user id without an entry in the user database (a container, a removed account) still
    // names its own instance.
    const passwd *entry = getpwuid(uid);
    const QString login =
        entry && entry->pw_name ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
    return QStringLiteral("security-white") + login;
}

void MyApplication::newLocalConnection()
{
    QLocalSocket *socket = m_localServer->nextPendingConnection();
    if (!socket)
        return;
    socket->waitForReadyRead(ReadTimeoutMs);
    QTextStream stream(socket);
    QString word;
    stream >> word;
    delete socket;
}
