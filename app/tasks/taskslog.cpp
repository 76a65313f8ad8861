#include "tasks/taskslog.h"

Q_LOGGING_CATEGORY(tasksLog, "corvane.tasks", QtInfoMsg)
