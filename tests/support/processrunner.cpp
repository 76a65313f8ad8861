#include "processrunner.h"

#include <QProcess>

namespace ProcessRunner
{

ProcessResult run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    return run(program, arguments, QProcessEnvironment::systemEnvironment(), timeoutMs);
}

ProcessResult run(const QString &program, const QStringList &arguments,
                  const QProcessEnvironment &environment, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ProcessResult result;
    if (!process.waitForStarted() || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.output = process.errorString();
        return result;
    }
    result.output = QString::fromUtf8(process.readAll());
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

ProcessResult shell(const QString &command, int timeoutMs)
{
    return run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, timeoutMs);
}

} // namespace ProcessRunner
