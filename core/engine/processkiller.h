#pragma once

#include <QString>

// Stops the yum download of one package when the user cancels it: as root, kills the
// processes whose command line downloads exactly that package.
class ProcessKiller
{
public:
    // match: the package name (a row's task key) whose download is stopped.
    explicit ProcessKiller(QString match);

    // Blocks until two processes are killed or 1000 passes over the process list are done.
    void killDownloads();

private:
    QString m_match;
    // Taken when the killer is made: the killing thread never reads the environment.
    QString m_processFile;
};
