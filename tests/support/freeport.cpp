#include "freeport.h"

#include <QTcpServer>

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

quint16 useLoopbackTransport()
{
    const quint16 port = freePort();
    qputenv("VQS_BIND", "127.0.0.1");
    qputenv("VQS_PORT", QByteArray::number(port));
    return port;
}
