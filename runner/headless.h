#pragma once

#include <QStringList>

// Blocks SIGINT and SIGTERM and returns a descriptor that becomes readable
// when one arrives (-1 on failure), so the run reacts on its event loop and
// not inside an asynchronous handler. Call it before any thread starts, so
// every thread inherits the mask.
int QuitSignalDescriptor();

// zyl-test-run inside the running QCoreApplication: reads the command line,
// runs the definition and returns the exit status. quitSignals is the
// descriptor of QuitSignalDescriptor.
int RunHeadless(const QStringList& arguments, const char* version, int quitSignals);
