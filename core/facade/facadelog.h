#pragma once

#include <QLoggingCategory>

// Our own trace of the facade's parts; off unless a logging rule turns on
// "corvane.core.facade.debug". The documented debug lines stay plain qDebug.
Q_DECLARE_LOGGING_CATEGORY(facadeLog)
