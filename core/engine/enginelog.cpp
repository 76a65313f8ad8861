#include "engine/enginelog.h"

Q_LOGGING_CATEGORY(engineLog, "corvane.core.engine", QtInfoMsg)
