#include "base/quit_signals.h"
#include "runner/headless.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    const int quitSignals = QuitSignalDescriptor();
    if (quitSignals < 0) {
        std::perror("zyl-test-run: signalfd");
        return 1;
    }
    QCoreApplication app(argc, argv);
    return RunHeadless(QCoreApplication::arguments(), ZYL_VERSION, quitSignals);
}
