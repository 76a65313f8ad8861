#include "catalogserverprocess.h"

#include "tests/support/testkey.h"
#include "vqs.h"

#include <QTest>

#ifndef CORVANE_CATALOG_SERVER
#error "CORVANE_CATALOG_SERVER must name the catalog server"
#endif

bool CatalogServerProcess::start(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Signs with the key the tests' stores trust, as a real server does.
    m_process.start(QStringLiteral(CORVANE_CATALOG_SERVER),
                    QStringList{"--bind", "127.0.0.2", "--port", qgetenv("VQS_PORT"), "--key",
                                TestKey::catalog().privateKeyFile()} +
                        arguments);
    return m_process.waitForStarted() && waitFor(QStringLiteral("ready"));
}

CatalogServerProcess::~CatalogServerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.write("quit\n");
        if (!m_process.waitForFinished(15000))
            m_process.kill();
        m_process.waitForFinished();
    }
    // A failed test keeps what the server said last: what it sent, and its transport.
    if (QTest::currentTestFailed()) {
        const QStringList lines = output();
        qInfo("the catalog server's last lines:\n%s",
              qPrintable(lines.mid(qMax(0, lines.size() - 200)).join('\n')));
    }
}

QString CatalogServerProcess::waitForLine(const QRegularExpression &pattern, int from,
                                          int timeoutMs)
{
    QString found;
    (void)QTest::qWaitFor(
        [&]() {
            const QStringList lines = output().mid(from).filter(pattern);
            found = lines.value(0);
            return !lines.isEmpty();
        },
        timeoutMs);
    return found;
}

bool CatalogServerProcess::waitFor(const QString &prefix, int timeoutMs)
{
    return !waitForLine(QRegularExpression("^" + QRegularExpression::escape(prefix)), 0, timeoutMs)
                .isEmpty();
}

QString CatalogServerProcess::command(const QString &line)
{
    const int before = output().size();
    m_process.write(line.toUtf8() + '\n');
    return waitForLine(QRegularExpression("^(ok|error) "), before);
}

QStringList CatalogServerProcess::output()
{
    m_output += QString::fromUtf8(m_process.readAllStandardOutput());
    return m_output.split('\n', Qt::SkipEmptyParts);
}

bool CatalogServerProcess::sendFrom(const QString &from, const QStringList &texts)
{
    const QByteArray saved = qgetenv("VQS_BIND");
    qputenv("VQS_BIND", from.toLatin1());
    bool queued = true;
    for (const QString &text : texts)
        queued = vqs_message_send("127.0.0.2", text.toUtf8().constData()) == 0 && queued;
    qputenv("VQS_BIND", saved);
    return queued;
}
