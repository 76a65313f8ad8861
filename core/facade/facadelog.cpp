#include "facade/facadelog.h"

Q_LOGGING_CATEGORY(facadeLog, "corvane.core.facade", QtInfoMsg)
