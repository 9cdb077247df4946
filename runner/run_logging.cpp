#include "runner/run_logging.h"

Q_LOGGING_CATEGORY(lcRunner, "zyl.runner", QtInfoMsg)
