#include "engine/processkiller.h"

#include "engine/privileges.h"
#include "engine/scratchfiles.h"
#include "engine/shellfunctions.h"
#include "records/paths.h"
#include "records/quoting.h"

#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <cstdio>
#include <sys/wait.h>

namespace
{
constexpr int MaxPasses = 1000;
// One yum download shows as two processes: the shell that runs it and yum itself.
constexpr int KillsWanted = 2;

QMutex cancelledLock;
QSet<QString> &cancelledRunning()
{
    static QSet<QString> keys;
    return keys;
}

bool isCancelledRunning(const QString &key)
{
    QMutexLocker locker(&cancelledLock);
    return cancelledRunning().contains(key);
}

// A process line that downloads exactly this package: the download directory
// pkgpath/NAME-VERSION-RELEASE names it. A plain search for the name would also find
// foo-bar's download when foo is cancelled.
QRegularExpression downloadOf(const QString &package)
{
    return QRegularExpression(QStringLiteral("/") + QRegularExpression::escape(package) +
                              QStringLiteral("-[^-/\\s']+-[^-/\\s']+(?=[\\s']|$)"));
}
} // namespace

ProcessKiller::ProcessKiller(QString match)
    : m_match(std::move(match)), m_processFile(Paths::processFile())
{
}

void ProcessKiller::killDownloads()
{
    // yum runs as root; so must whoever kills it.
    Privileges::switchToRoot();
    // The process list is filtered here, not by grep: the package text never enters a shell.
    const QString command = QStringLiteral("ps -ef | grep  'yum install --downloadonly "
                                           "--downloaddir ' | grep -v grep | grep -v stopper > ") +
                            Quoting::shell(m_processFile);
    qDebug() << " kill command **************** " << command;
    const QRegularExpression ours = downloadOf(m_match);

    int killed = 0;
    for (int pass = 0; pass < MaxPasses && killed != KillsWanted && isCancelledRunning(m_match);
         ++pass) {
        // Someone else's file at the name is never read as a list of processes to kill.
        const bool fresh = ScratchFiles::createFresh(m_processFile);
        if (fresh)
            runShell(command);
        QFile file(m_processFile);
        if (fresh && file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream in(&file);
            while (!in.atEnd()) {
                const QString line = in.readLine();
                if (!ours.match(line).hasMatch())
                    continue;
                // ps -ef: the process id is the second column.
                const QString pid = line.simplified().section(QLatin1Char(' '), 1, 1);
                if (pid.isEmpty())
                    continue;
                const QString kill = QStringLiteral("kill -9 ") + Quoting::shell(pid);
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

void ProcessKiller::runningCancelled(const QString &key)
{
    QMutexLocker locker(&cancelledLock);
    cancelledRunning().insert(key);
}

void ProcessKiller::runningEnded(const QString &key)
{
    QMutexLocker locker(&cancelledLock);
    cancelledRunning().remove(key);
}
