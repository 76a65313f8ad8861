#include "storeprocess.h"

#include <QProcessEnvironment>
#include <QRegularExpression>

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
}

void StoreProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished();
}

QStringList StoreProcess::transportLines()
{
    m_errors += QString::fromUtf8(m_process.readAllStandardError());
    return m_errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts)
        .filter(QRegularExpression(QStringLiteral("^vqs: ")));
}
