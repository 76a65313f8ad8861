#pragma once

#include <QtGlobal>

// A count from /proc/PID/status ("Threads", "VmRSS" in kB); -1 when it cannot be read.
double statusOf(qint64 pid, const char *key);
