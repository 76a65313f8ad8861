#pragma once

#include <QLoggingCategory>

// Our own trace of the package engine; off unless a logging rule turns on
// "corvane.core.engine.debug". The documented debug lines stay plain qDebug.
Q_DECLARE_LOGGING_CATEGORY(engineLog)
