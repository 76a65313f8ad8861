#include "engine/processprobe.h"

#include "engine/enginelog.h"
#include "engine/scratchfiles.h"
#include "engine/serialworker.h"
#include "engine/shellfunctions.h"
#include "records/paths.h"
#include "records/quoting.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QTextStream>

namespace
{

SerialWorker &probeThread()
{
    // Made on first use in the GUI thread; it goes with the application.
    static SerialWorker *worker =
        new SerialWorker(QStringLiteral("process probe"), QCoreApplication::instance());
    return *worker;
}

} // namespace

bool ProcessProbe::isRunning(const QString &commandLine)
{
    // Without a command line there is nothing to look for; grep '' would match every process.
    if (commandLine.isEmpty() || commandLine == QLatin1String("NULL"))
        return false;
    const QString result = Paths::appIsRunningFile();
    // Without a file of its own the check counts as unreadable: the operation may proceed.
    if (!ScratchFiles::createFresh(result))
        return false;
    runShell(QStringLiteral("ps -ef | grep  ") + Quoting::shell(commandLine) +
             QStringLiteral("| grep -v grep |grep -v stopper > ") + Quoting::shell(result));
    QFile file(result);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        qDebug() << "&&&&&&&  " << line;
        if (!line.isEmpty())
            return true;
    }
    return false;
}

void ProcessProbe::checkRunning(QObject *asker, const QString &commandLine,
                                std::function<void(bool running)> done)
{
    qCDebug(engineLog) << "running check queued for" << commandLine;
    probeThread().run<bool>(
        asker, [commandLine] { return isRunning(commandLine); }, std::move(done));
}
