#include "engine/shellfunctions.h"

#include "engine/rpmlock.h"
#include "engine/shelltranscript.h"
#include "records/paths.h"
#include "records/quoting.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>
#include <sys/wait.h>

bool createDirectory(const QString &path)
{
    // A file of that name is no directory: a download into it would fail later.
    if (QFileInfo(path).isDir())
        return true;
    return QDir().mkdir(path);
}

bool removeDirectory(const QString &path)
{
    // An empty path names the working directory, and a linked directory lies elsewhere:
    // neither is ours to empty.
    if (path.isEmpty() || QFileInfo(path).isSymLink())
        return false;
    QDir dir(path);
    if (!dir.exists())
        return false;
    const QFileInfoList entries = dir.entryInfoList();
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        // A link is removed as a file and never followed: the removal stays inside path.
        if (entry.isDir() && !entry.isSymLink()) {
            removeDirectory(path + QLatin1Char('/') + name);
            dir.rmdir(name);
        } else {
            dir.remove(name);
        }
    }
    QDir parent(path);
    parent.cdUp();
    if (QFileInfo::exists(path))
        return parent.rmdir(QFileInfo(QDir::cleanPath(path)).fileName());
    return true;
}

int runShell(const QString &command)
{
    ShellTranscript *transcript = ShellTranscript::current();
    if (!transcript)
        return std::system(command.toUtf8().constData());
    const int status = std::system(transcript->wrap(command).toUtf8().constData());
    transcript->collect();
    return status;
}

void repairRpmDatabase()
{
    // Never beside another worker's rpm transaction.
    const RpmLock held;
    runShell(QStringLiteral("rm -rf ") + Quoting::shell(Paths::rpmDatabaseDirectory()) +
             QStringLiteral("/__db*"));
    runShell(QStringLiteral("rpm --rebuilddb"));
}

static int decode(int status, bool repair)
{
    if (status == -1) {
        qDebug() << "system error!";
        return -1;
    }
    qDebug() << "exit status value = " << status;
    if (repair && status == 256) {
        repairRpmDatabase();
        return 2;
    }
    // Any of the low seven bits means the shell did not exit normally; WIFSIGNALED alone
    // would let a stop status (0x7f) through as a clean exit.
    if ((status & 0x7f) != 0) {
        qDebug() << "exit status = " << WEXITSTATUS(status);
        return -1;
    }
    if (WEXITSTATUS(status) != 0) {
        qDebug() << "run shell script fail, script exit code: %d" << WEXITSTATUS(status);
        return -1;
    }
    qDebug() << "run shell script successfully.";
    return 0;
}

int isExecSuccess(int status)
{
    return decode(status, true);
}

int decodeExecStatus(int status)
{
    return decode(status, false);
}
