#include "fakedownload.h"

FakeDownload::FakeDownload(const QString &package, int count)
{
    for (int i = 0; i < count; ++i) {
        auto process = std::make_unique<QProcess>();
        // exec -a: the sleeping process shows the download's command line to ps.
        process->start(QStringLiteral("bash"),
                       {QStringLiteral("-c"), QStringLiteral("exec -a \"$0\" sleep 600"),
                        commandLine(package)});
        process->waitForStarted();
        m_processes.push_back(std::move(process));
    }
}

FakeDownload::~FakeDownload()
{
    for (auto &process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
    }
}

bool FakeDownload::started() const
{
    for (const auto &process : m_processes)
        if (process->state() != QProcess::Running)
            return false;
    return true;
}

bool FakeDownload::running()
{
    for (auto &process : m_processes)
        if (process->waitForFinished(0) || process->state() != QProcess::Running)
            return false;
    return true;
}

bool FakeDownload::waitKilled(int timeoutMs)
{
    for (auto &process : m_processes) {
        if (process->state() != QProcess::NotRunning && !process->waitForFinished(timeoutMs))
            return false;
        if (process->exitStatus() != QProcess::CrashExit)
            return false;
    }
    return true;
}

QString FakeDownload::commandLine(const QString &package)
{
    return QStringLiteral("yum install --downloadonly --downloaddir /var/cache/corvane/packages/") +
           package + QStringLiteral("-1.0-1 ") + package + QStringLiteral("-1.0");
}
