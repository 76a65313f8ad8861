#include "httpserver.h"

#include <QElapsedTimer>
#include <QRegularExpression>

HttpServer::HttpServer(const QString &directory)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // Port 0: the server picks a free port and says which.
    m_process.start(QStringLiteral("python3"),
                    {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                     QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("--directory"), directory, QStringLiteral("0")});
    if (!m_process.waitForStarted())
        return;
    static const QRegularExpression serving(QStringLiteral("port (\\d+)"));
    QByteArray seen;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(200);
        seen += m_process.readAll();
        const QRegularExpressionMatch match = serving.match(QString::fromUtf8(seen));
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            return;
        }
    }
}

HttpServer::~HttpServer()
{
    stop();
}

QString HttpServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_port);
}

void HttpServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    m_port = 0;
}
