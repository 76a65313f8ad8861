#include "storeprocess.h"

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTest>

#ifndef CORVANE_PROGRAM
#error "CORVANE_PROGRAM must name the corvane program"
#endif

StoreProcess::StoreProcess(const QString &transportSettings)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VQS_CONFIG"), transportSettings);
    env.insert(QStringLiteral("TMPDIR"), m_tmp.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(env);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral(CORVANE_PROGRAM), QStringList());
    m_process.waitForStarted();
}

StoreProcess::~StoreProcess()
{
    kill();
    // A failed test keeps what the store said: the order it took frames in, its transport.
    if (!QTest::currentTestFailed())
        return;
    const QStringList lines = errorLines();
    qInfo("the store's last standard error lines:\n%s",
          qPrintable(lines.mid(qMax(0, lines.size() - KeptLines)).join('\n')));
}

void StoreProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished();
}

QStringList StoreProcess::errorLines()
{
    m_errors += QString::fromUtf8(m_process.readAllStandardError());
    return m_errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList StoreProcess::transportLines()
{
    return errorLines().filter(QRegularExpression(QStringLiteral("^vqs: ")));
}
