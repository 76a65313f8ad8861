#pragma once

#include <QString>

#include <functional>

class QObject;

// Whether a program with a given command line runs, as the operations that would replace or
// remove it ask before they start.
class ProcessProbe
{
public:
    // Looks through the process list with the shell; blocks while it does.
    static bool isRunning(const QString &commandLine);
    // isRunning on the probes' own thread; done(running) runs later on the calling thread,
    // only while asker exists. Checks run one at a time: they share one scratch file.
    static void checkRunning(QObject *asker, const QString &commandLine,
                             std::function<void(bool running)> done);
};
