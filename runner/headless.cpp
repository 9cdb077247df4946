#include "runner/headless.h"

#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"
#include "runner/test_run.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

void PrintTo(FILE* stream, const QByteArray& text) {
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// The definition with the command line's address and port; throws what the
// window's loader throws.
TRunDefinition DefinitionFor(const TRunOptions& options) {
    TRunDefinition definition = ReadRunDefinition(options.file);
    if (options.address)
        definition.address = *options.address;
    if (options.port)
        definition.port = *options.port;
    return definition;
}

int Run(const TRunOptions& options, int quitSignals) {
    TRunDefinition definition;
    try {
        definition = DefinitionFor(options);
    } catch (const Exception& error) {
        PrintTo(stderr, ErrorDisplayText(error.Message()));
        return kRunUsage;
    }
    if (!definition.HasCommand()) {
        PrintTo(stderr, ErrorDisplayText(
                            FormatMessage("No commands in %s", QFile::encodeName(options.file))));
        return kRunUsage;
    }
    QFile junit(options.junitFile);
    if (!options.junitFile.isEmpty() && !junit.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        PrintTo(stderr, ErrorDisplayText(FormatMessage("Cannot create file %s",
                                                       QFile::encodeName(options.junitFile))));
        return kRunUsage;
    }

    TTestRun run(definition, options, stdout);
    if (const std::optional<int> refused = run.Start()) {
        if (junit.isOpen())
            junit.remove();
        return *refused;
    }
    run.Finished = [](int status) { QCoreApplication::exit(status); };
    QSocketNotifier quit(quitSignals, QSocketNotifier::Read);
    QObject::connect(&quit, &QSocketNotifier::activated, &run, [&] {
        signalfd_siginfo info{};
        if (::read(quitSignals, &info, sizeof info) < 0)
            quit.setEnabled(false);
        run.Interrupt();
    });
    const int status = QCoreApplication::exec();
    if (junit.isOpen())
        WriteJUnit(&junit, QFileInfo(options.file).completeBaseName(), run.Started(), run.Seconds(),
                   run.CaseResults());
    return status;
}

} // namespace

int QuitSignalDescriptor() {
    sigset_t quitSet;
    sigemptyset(&quitSet);
    sigaddset(&quitSet, SIGINT);
    sigaddset(&quitSet, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &quitSet, nullptr);
    return signalfd(-1, &quitSet, SFD_CLOEXEC | SFD_NONBLOCK);
}

int RunHeadless(const QStringList& arguments, const char* version, int quitSignals) {
    const TCommandLine line = ParseCommandLine(arguments);
    switch (line.action) {
    case TCommandLine::TAction::Help:
        PrintTo(stdout, line.text.toUtf8());
        return kRunCompleted;
    case TCommandLine::TAction::Version:
        PrintTo(stdout, QByteArray("zyl-test-run ") + version);
        return kRunCompleted;
    case TCommandLine::TAction::Error:
        PrintTo(stderr, "zyl-test-run: " + line.text.toUtf8() + "\nTry 'zyl-test-run --help'.");
        return kRunUsage;
    case TCommandLine::TAction::Run:
        break;
    }
    return Run(line.options, quitSignals);
}
