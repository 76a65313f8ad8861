#include "httpserver.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace
{

// http.server's own handler behind a TLS socket; it says its port as http.server does.
const char *const TlsServer = R"(
import functools, http.server, ssl, sys
directory, certificate, key = sys.argv[1:4]
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=directory)
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(certificate, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print("Serving HTTPS on 127.0.0.1 port %d" % server.server_address[1], flush=True)
server.serve_forever()
)";

} // namespace

HttpServer::HttpServer(const QString &directory, const QString &certificate, const QString &key)
    : m_tls(!certificate.isEmpty())
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // Port 0: the server picks a free port and says which.
    if (m_tls)
        m_process.start(QStringLiteral("python3"),
                        {QStringLiteral("-u"), QStringLiteral("-c"), QString::fromUtf8(TlsServer),
                         directory, certificate, key});
    else
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
    return m_tls ? QStringLiteral("https://localhost:%1/").arg(m_port)
                 : QStringLiteral("http://127.0.0.1:%1/").arg(m_port);
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
