#include "sync/synclog.h"

Q_LOGGING_CATEGORY(syncLog, "corvane.core.sync", QtInfoMsg)
