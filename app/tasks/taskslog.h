#pragma once

#include <QLoggingCategory>

// Our own trace of the package rows and their helpers; off unless a logging rule turns on
// "corvane.tasks.debug". The documented debug lines stay plain qDebug.
Q_DECLARE_LOGGING_CATEGORY(tasksLog)
