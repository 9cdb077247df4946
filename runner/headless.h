#pragma once

#include <QStringList>

// zyl-test-run inside the running QCoreApplication: reads the command line,
// runs the definition and returns the exit status. quitSignals is the
// descriptor of QuitSignalDescriptor (base/quit_signals.h).
int RunHeadless(const QStringList& arguments, const char* version, int quitSignals);
