#pragma once

#include <QString>

// Stops the yum download of one package when the user cancels it: as root, kills the
// processes whose command line downloads exactly that package.
class ProcessKiller
{
public:
    // match: the package name (a row's task key) whose download is stopped.
    explicit ProcessKiller(QString match);

    // Blocks until two processes are killed, 1000 passes over the process list are done, or
    // the cancelled task has ended: a later download of the same package is not its to kill.
    void killDownloads();

    // The task of key is running and the user cancelled it; until runningEnded, killers of
    // that key look for its download.
    static void runningCancelled(const QString &key);
    static void runningEnded(const QString &key);

private:
    QString m_match;
    // Taken when the killer is made: the killing thread never reads the environment.
    QString m_processFile;
};
