#include "runner/headless.h"

#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"
#include "runner/controller_run.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// The definition with the command line's address and port, or nothing (the
// reason printed) when it cannot be run.
std::optional<TRunDefinition> UsableDefinition(const TRunOptions& options) {
    TRunDefinition definition;
    try {
        definition = ReadRunDefinition(options.file);
    } catch (const Exception& error) {
        WriteLine(stderr, ErrorDisplayText(error.Message()));
        return std::nullopt;
    }
    if (options.address)
        definition.address = *options.address;
    if (options.port)
        definition.port = *options.port;
    if (!definition.HasCommand()) {
        WriteLine(stderr, ErrorDisplayText(
                              FormatMessage("No commands in %s", QFile::encodeName(options.file))));
        return std::nullopt;
    }
    return definition;
}

int Run(const TRunOptions& options, int quitSignals) {
    const std::optional<TRunDefinition> definition = UsableDefinition(options);
    if (!definition)
        return kRunUsage;
    QFile junit(options.junitFile);
    if (!options.junitFile.isEmpty() && !junit.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        WriteLine(stderr, ErrorDisplayText(FormatMessage("Cannot create file %s",
                                                         QFile::encodeName(options.junitFile))));
        return kRunUsage;
    }

    TControllerRun run(*definition, options, stdout);
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

int RunHeadless(const QStringList& arguments, const char* version, int quitSignals) {
    const TCommandLine line = ParseCommandLine(arguments);
    switch (line.action) {
    case TCommandLine::TAction::Help:
        WriteLine(stdout, line.text.toUtf8());
        return kRunCompleted;
    case TCommandLine::TAction::Version:
        WriteLine(stdout, QByteArray("zyl-test-run ") + version);
        return kRunCompleted;
    case TCommandLine::TAction::Error:
        WriteLine(stderr, "zyl-test-run: " + line.text.toUtf8() + "\nTry 'zyl-test-run --help'.");
        return kRunUsage;
    case TCommandLine::TAction::Run:
        break;
    }
    return Run(line.options, quitSignals);
}
