#pragma once

#include <QLoggingCategory>

// Our own trace of the catalog synchronisation; off unless a logging rule turns on
// "corvane.core.sync.debug". The documented debug lines stay plain qDebug.
Q_DECLARE_LOGGING_CATEGORY(syncLog)
