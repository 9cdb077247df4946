#include "runner/headless.h"

#include "base/convert.h"
#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"
#include "connection/resolver.h"
#include "runner/controller_run.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// The address and port the run connects to, checked by the window's rules
// before anything connects. An error names the definition's line when the
// value came from there.
void CheckEndpoint(const TRunDefinition& definition, const TRunOptions& options) {
    const auto where = [&](bool fromCommandLine, int line, const QByteArray& message) {
        return fromCommandLine ? message : AtLine(options.file, line, message);
    };
    try {
        StrToPort(definition.port);
    } catch (const EConvertError& error) {
        throw EConvertError(where(options.port.has_value(), kPortLineNumber, error.Message()));
    }
    in_addr_t address = 0;
    if (!ParseIPv4(definition.address, &address))
        throw EConvertError(
            where(options.address.has_value(), kAddressLineNumber,
                  FormatMessage("'%s' is not a valid IPv4 address", definition.address)));
}

// The definition with the command line's address and port, or nothing (the
// reason printed) when it cannot be run.
std::optional<TRunDefinition> UsableDefinition(const TRunOptions& options) {
    try {
        TRunDefinition definition = ReadRunDefinition(options.file);
        if (definition.firstLineLeftOut > 0)
            WriteLine(stderr, AtLine(options.file, definition.firstLineLeftOut,
                                     "warning: only " + QByteArray::number(kSlotCount) +
                                         " items are run; this line and those after it are not"));
        if (options.address)
            definition.address = *options.address;
        if (options.port)
            definition.port = *options.port;
        CheckEndpoint(definition, options);
        if (!definition.HasCommand())
            throw EConvertError(
                FormatMessage("No commands in %s", QFile::encodeName(options.file)));
        return definition;
    } catch (const EFOpenError& error) {
        WriteLine(stderr, ErrorDisplayText(error.Message()) + " (" + error.Reason() + ")");
    } catch (const Exception& error) {
        WriteLine(stderr, ErrorDisplayText(error.Message()));
    }
    return std::nullopt;
}

// Opens the JUnit report for writing; it takes its place only when committed,
// so a reader never sees half of one and a failed run keeps the last report
// until the new one is whole.
bool OpenReport(QSaveFile& report, const TRunOptions& options) {
    const QFileInfo reportInfo(options.junitFile);
    if (reportInfo.exists() &&
        reportInfo.canonicalFilePath() == QFileInfo(options.file).canonicalFilePath()) {
        WriteLine(stderr,
                  ErrorDisplayText(FormatMessage("The report would overwrite the definition %s",
                                                 QFile::encodeName(options.file))));
        return false;
    }
    if (report.open(QIODevice::WriteOnly))
        return true;
    WriteLine(stderr, ErrorDisplayText(FormatMessage("Cannot create file %s",
                                                     QFile::encodeName(options.junitFile))) +
                          " (" + report.errorString().toUtf8() + ")");
    return false;
}

int Run(const TRunOptions& options, int quitSignals) {
    const std::optional<TRunDefinition> definition = UsableDefinition(options);
    if (!definition)
        return kRunUsage;
    QSaveFile report(options.junitFile);
    if (!options.junitFile.isEmpty() && !OpenReport(report, options))
        return kRunUsage;

    TRunOutput output(stdout, options.json, options.quiet, LabelWidthOf(definition->items));
    TControllerRun run(*definition, options, output);
    // Errors that reach the guard outside the run's own handlers end it too.
    SetErrorSink([&run](const QByteArray& message) {
        WriteLine(stderr, ErrorDisplayText(message));
        run.Interrupt(kRunConnection);
    });
    int status = kRunCompleted;
    if (const std::optional<int> refused = run.Start()) {
        status = *refused;
    } else {
        run.Finished = [](int result) { QCoreApplication::exit(result); };
        QSocketNotifier quit(quitSignals, QSocketNotifier::Read);
        QObject::connect(&quit, &QSocketNotifier::activated, &run, [&] {
            signalfd_siginfo info{};
            if (::read(quitSignals, &info, sizeof info) < 0)
                quit.setEnabled(false);
            run.Interrupt();
        });
        status = QCoreApplication::exec();
    }
    SetErrorSink(nullptr);
    if (report.isOpen()) {
        WriteJUnit(&report, {run.SuiteResult(QFileInfo(options.file).completeBaseName())});
        if (!report.commit())
            WriteLine(stderr, ErrorDisplayText(FormatMessage(
                                  "Cannot write file %s", QFile::encodeName(options.junitFile))) +
                                  " (" + report.errorString().toUtf8() + ")");
    }
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
