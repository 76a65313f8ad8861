#include "tasks/datathread.h"

#include "engine/privileges.h"

#include <QByteArray>
#include <QDebug>
#include <QProcessEnvironment>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
// The child writes its log lines straight to the descriptor: a stream lock held by another
// thread at the fork would never be released in the child.
void writeLog(const char *text)
{
    const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

// The store's environment with the account's HOME, USER and LOGNAME: the program must not
// find its settings in root's home.
std::vector<std::string> environmentFor(const Privileges::LoginAccount &account)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), QString::fromStdString(account.home));
    environment.insert(QStringLiteral("USER"), QString::fromStdString(account.name));
    environment.insert(QStringLiteral("LOGNAME"), QString::fromStdString(account.name));
    std::vector<std::string> entries;
    for (const QString &entry : environment.toStringList())
        entries.push_back(entry.toStdString());
    return entries;
}
} // namespace

DataThread::DataThread(QString command, QObject *parent)
    : QThread(parent), m_command(std::move(command))
{
}

void DataThread::run()
{
    // Everything the child needs is prepared before the fork: the child of a threaded
    // process must not allocate, take Qt's locks or ask the name service.
    Privileges::LoginAccount account;
    if (!Privileges::findLoginAccount(&account)) {
        // Never as root: without a user to run as, nothing is launched, as after a failed fork.
        qDebug() << "[DataThread::run] no login user to launch as.";
        return;
    }
    const QByteArray command = m_command.toUtf8();
    const std::vector<std::string> entries = environmentFor(account);
    std::vector<char *> environment;
    for (const std::string &entry : entries)
        environment.push_back(const_cast<char *>(entry.c_str()));
    environment.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0) {
        qDebug() << "[DataThread::run] fork failed.";
        return;
    }
    if (child == 0) {
        const pid_t pid = getpid();
        const pid_t ppid = getppid();
        // A failed drop must never leave the program running as root.
        if (!Privileges::dropToLoginUser(account)) {
            writeLog("[DataThread::run] cannot switch to the login user.\n");
            _exit(1);
        }
        environ = environment.data();
        // Started where a login starts it; root's working directory is not the user's.
        if (chdir(account.home.c_str()) != 0)
            writeLog("[DataThread::run] cannot enter the home directory.\n");
        // Through the shell, as the command line is written: variables, ~, && and pipes work.
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
