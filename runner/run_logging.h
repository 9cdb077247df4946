#pragma once

#include <QLoggingCategory>

// The runner's trace: dialling, outages, resends, out-of-step data and
// flushes, for a run whose output alone does not explain it. Silent unless
// enabled, for instance with QT_LOGGING_RULES="zyl.runner.debug=true";
// disabled, a line costs one test of a flag.
Q_DECLARE_LOGGING_CATEGORY(lcRunner)
