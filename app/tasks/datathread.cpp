#include "tasks/datathread.h"

#include "engine/privileges.h"

#include <QByteArray>
#include <QDebug>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
// The child writes its log lines straight to the descriptor: a stream lock held by another
// thread at the fork would never be released in the child.
void writeLog(const char *text)
{
    const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}
} // namespace

DataThread::DataThread(QString command, QObject *parent)
    : QThread(parent), m_command(std::move(command))
{
}

void DataThread::run()
{
    // Everything the child needs is prepared before the fork: the child of a threaded
    // process should not allocate or take Qt's locks.
    const QByteArray command = m_command.toUtf8();
    const pid_t child = fork();
    if (child < 0) {
        qDebug() << "[DataThread::run] fork failed.";
        return;
    }
    if (child == 0) {
        const pid_t pid = getpid();
        const pid_t ppid = getppid();
        // A failed drop must never leave the program running as root.
        if (!Privileges::dropToLoginUser()) {
            writeLog("[DataThread::run] cannot switch to the login user.\n");
            _exit(1);
        }
        const int status = std::system(command.constData());
        char line[160];
        std::snprintf(line, sizeof line, "*******888    %u    %u\npid =  %d  ppid =  %d\n",
                      static_cast<unsigned>(getgid()), static_cast<unsigned>(getuid()),
                      static_cast<int>(pid), static_cast<int>(ppid));
        writeLog(line);
        // _exit: no destructors or atexit handlers of the store may run in the child.
        _exit(status == 0 ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}
