#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// server/ on 127.0.0.2 (or on the broker, given --config), signing with the
// tests' catalog key, driven through its command input. Waits spin the event loop.
class CatalogServerProcess
{
public:
    // Sends texts to the server over direct TCP on a connection from the loopback address
    // from, as a store bound there sends them.
    static bool sendFrom(const QString &from, const QStringList &texts);

    ~CatalogServerProcess();

    bool start(const QStringList &arguments);
    // The first line of output from line number from on that matches; empty after timeoutMs.
    QString waitForLine(const QRegularExpression &pattern, int from = 0, int timeoutMs = 30000);
    bool waitFor(const QString &prefix, int timeoutMs = 30000);
    // Runs one command line; its "ok ..." or "error ..." answer.
    QString command(const QString &line);
    // Every line the server has written so far.
    QStringList output();
    qint64 processId() const { return m_process.processId(); }

private:
    QProcess m_process;
    QString m_output;
};
