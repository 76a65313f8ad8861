#pragma once

#include "tasks/progressmeter.h"

#include <QObject>

#include <functional>

class SerialWorker;

// Runs the progress measurements of every downloading row on one thread of its own, so that
// their shell commands never hold up the GUI thread, and one at a time, as they share their
// scratch files. A result reaches its row through the GUI thread's event loop, and only while
// the row still exists.
class ProgressProbe
{
public:
    // The application's probe, made on first use; it goes with the application.
    static ProgressProbe &instance();

    void measure(QObject *row, const ProgressQuery &query,
                 std::function<void(const ProgressReading &)> done);

private:
    ProgressProbe();

    SerialWorker *m_worker;
};
