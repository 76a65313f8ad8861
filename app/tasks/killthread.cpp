#include "tasks/killthread.h"

#include "engine/shellfunctions.h"
#include "records/paths.h"
#include "records/quoting.h"

#include <QDebug>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <sys/wait.h>

namespace
{
constexpr int MaxPasses = 1000;
// One yum download shows as two processes: the shell that runs it and yum itself.
constexpr int KillsWanted = 2;
} // namespace

KillThread::KillThread(QString match, QObject *parent)
    : QThread(parent), m_match(std::move(match)), m_processFile(Paths::processFile())
{
}

void KillThread::run()
{
    const QString command =
        QStringLiteral("ps -ef | grep  'yum install --downloadonly --downloaddir ' | grep ") +
        Quoting::shell(m_match) +
        QStringLiteral(" | grep -v grep | grep -v stopper | awk '{print $2}' > ") +
        Quoting::shell(m_processFile);
    qDebug() << " kill command **************** " << command;

    int killed = 0;
    for (int pass = 0; pass < MaxPasses && killed != KillsWanted; ++pass) {
        runShell(command);
        QFile file(m_processFile);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream in(&file);
            while (!in.atEnd()) {
                const QString line = in.readLine().trimmed();
                if (line.isEmpty())
                    continue;
                const QString kill = QStringLiteral("kill -9 ") + Quoting::shell(line);
                std::printf("kill process:%s\n", kill.toUtf8().constData());
                const int status = runShell(kill);
                if (status == -1) {
                    qDebug() << "system error!";
                    break;
                }
                if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                    qDebug() << "run shell script successfully.";
                    ++killed;
                }
            }
            file.close();
        }
        QFile::remove(m_processFile);
    }
    std::fflush(stdout);
}
