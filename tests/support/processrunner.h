#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct ProcessResult {
    int exitCode = -1; // -1 when it could not start or crashed
    QString output;    // standard output and standard error together
};

// Runs a program to completion for the tests' set-up and checks.
namespace ProcessRunner
{

ProcessResult run(const QString &program, const QStringList &arguments, int timeoutMs = 120000);
// The same with another environment.
ProcessResult run(const QString &program, const QStringList &arguments,
                  const QProcessEnvironment &environment, int timeoutMs = 120000);
ProcessResult shell(const QString &command, int timeoutMs = 120000);

} // namespace ProcessRunner
