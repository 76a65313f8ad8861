#include "engine/updatethread.h"

#include "engine/shellfunctions.h"

UpdateThread::UpdateThread(QObject *parent) : QThread(parent) {}

bool UpdateThread::createDirectory(const QString &path)
{
    return ::createDirectory(path);
}

bool UpdateThread::removeDirectory(const QString &path)
{
    return ::removeDirectory(path);
}

int UpdateThread::isExecSuccess(int status)
{
    return ::isExecSuccess(status);
}

void UpdateThread::run()
{
    // The result does not matter: a stale cache only delays the next download.
    runShell(QStringLiteral("yum clean all"));
}
