#include "runner/headless.h"

#include "base/convert.h"
#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"
#include "connection/resolver.h"
#include "runner/fleet_run.h"
#include "runner/report_file.h"
#include "runner/site_reports.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// Descriptors the runner needs besides one per controller: standard streams,
// the quit signals, the report, and what Qt keeps open.
constexpr rlim_t kOtherDescriptors = 32;

// Runs one step of the run's set-up or wind-up. An error it raises is
// printed as the window would show it, with the system's reason for a file
// (with --nagios as the plugin's UNKNOWN), on one line whatever bytes of a
// file it quotes; false then.
bool StepDone(bool nagios, const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const EFOpenError& error) {
        WriteRefusal(nagios, ErrorDisplayText(error.Message()) + " (" + error.Reason() + ")");
    } catch (const Exception& error) {
        WriteRefusal(nagios, ErrorDisplayText(error.Message()));
    }
    return false;
}

// The definition, read and checked; a line left out is warned about.
TRunDefinition UsableDefinition(const TRunOptions& options) {
    TRunDefinition definition = ReadRunDefinition(options.file);
    if (definition.firstLineLeftOut > 0)
        WriteLine(stderr, AtLine(options.file, definition.firstLineLeftOut,
                                 "warning: only " + QByteArray::number(kSlotCount) +
                                     " items are run; this line and those after it are not"));
    for (const qsizetype line : definition.cutLines)
        WriteLine(stderr, AtLine(options.file, line,
                                 "warning: only the first " + QByteArray::number(kMaxLineLength) +
                                     " bytes of this line are read, as the window reads them"));
    if (!definition.HasCommand())
        throw EConvertError(FormatMessage("No commands in %s", QFile::encodeName(options.file)));
    return definition;
}

// Checks one value by the window's rules; an error names the definition's
// line when the value came from there.
void CheckFromDefinition(const std::function<void()>& check, bool fromCommandLine,
                         const QString& file, int line) {
    try {
        check();
    } catch (const EConvertError& error) {
        throw EConvertError(fromCommandLine ? error.Message()
                                            : AtLine(file, line, error.Message()));
    }
}

// The controllers to run against, every address and port checked before
// anything connects: the command line's addresses and the hosts file's, or
// else the definition's own.
QList<TEndpoint> Endpoints(const TRunDefinition& definition, const TRunOptions& options) {
    const QByteArray port = options.port.value_or(definition.port);
    CheckFromDefinition([&] { StrToPort(port); }, options.port.has_value(), options.file,
                        kPortLineNumber);
    QList<TEndpoint> endpoints;
    for (const QByteArray& address : options.addresses) {
        endpoints.append({address, port});
        CheckEndpoint(endpoints.constLast());
    }
    if (!options.hostsFile.isEmpty()) {
        QByteArray repeatWarning;
        endpoints += ReadHostsFile(options.hostsFile, port, &repeatWarning);
        if (!repeatWarning.isEmpty())
            WriteLine(stderr, repeatWarning);
    }
    if (options.addresses.isEmpty() && options.hostsFile.isEmpty()) {
        endpoints.append({definition.address, port});
        CheckFromDefinition([&] { CheckEndpoint(endpoints.constLast()); }, false, options.file,
                            kAddressLineNumber);
    }
    if (endpoints.isEmpty())
        throw EConvertError(
            FormatMessage("No controllers in %s", QFile::encodeName(options.hostsFile)));
    return endpoints;
}

// Raises the open-file limit as far as it goes; refuses, before anything
// connects, a list of controllers that needs more descriptors than that.
void RaiseDescriptorLimit(qsizetype controllers) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t needed = rlim_t(controllers) + kOtherDescriptors;
    if (limit.rlim_cur != RLIM_INFINITY && needed > limit.rlim_cur)
        throw EConvertError(QByteArray::number(qlonglong(controllers)) + " controllers need " +
                            QByteArray::number(qulonglong(needed)) +
                            " open files, but the limit is " +
                            QByteArray::number(qulonglong(limit.rlim_cur)) +
                            " (ulimit -n; the hard limit is the most a user can raise it to)");
}

// The checks the replies are judged by: the named file, or the definition's
// own when it has one, or none.
TReplyChecks ReadChecks(const TRunDefinition& definition, const TRunOptions& options) {
    const QString file =
        options.checksFile.isEmpty() ? ChecksFileOf(options.file) : options.checksFile;
    if (options.checksFile.isEmpty() && !QFileInfo::exists(file))
        return {};
    QList<QByteArray> labels;
    for (const TRunItem& item : definition.items)
        labels.append(item.label);
    return TReplyChecks::Read(file, labels);
}

// The inputs a report must not replace.
QList<TInputFile> InputsOf(const TRunOptions& options) {
    return {{"definition", options.file},
            {"hosts file", options.hostsFile},
            {"checks file",
             options.checksFile.isEmpty() ? ChecksFileOf(options.file) : options.checksFile}};
}

// Writes the JUnit report once the run ended. A report that cannot be
// written whole is no result to go by: false then.
bool ReportWritten(TReportFile& report, const TFleetRun& fleet, const TRunOptions& options) {
    return StepDone(options.nagios, [&] {
        report.Commit(JUnitXml(fleet.SuiteResults(QFileInfo(options.file).completeBaseName())));
    });
}

int Run(const TRunOptions& options, int quitSignals, const char* version) {
    TRunDefinition definition;
    QList<TEndpoint> endpoints;
    TReplyChecks checks;
    std::optional<TReportFile> report;
    std::optional<TSiteReports> site;
    // A plugin's usage or definition error is its UNKNOWN.
    const int refused = options.nagios ? int(kNagiosUnknown) : int(kRunUsage);
    if (!StepDone(options.nagios, [&] {
            RefuseReportOverInputs(options.junitFile, InputsOf(options));
            definition = UsableDefinition(options);
            endpoints = Endpoints(definition, options);
            RaiseDescriptorLimit(endpoints.size());
            checks = ReadChecks(definition, options);
            if (!options.junitFile.isEmpty())
                report.emplace(options.junitFile);
            site.emplace(definition, endpoints, checks, options, version);
        }))
        return refused;

    TRunOutput output(site->RunOutput(), options.json, options.quiet,
                      LabelWidthOf(definition.items), endpoints.size() > 1);
    TFleetRun fleet(definition, endpoints, options, checks, output);
    // Errors that reach the guard outside the runs' own handlers end them.
    SetErrorSink([&fleet](const QByteArray& message) {
        WriteLine(stderr, ErrorDisplayText(message));
        fleet.Interrupt(kRunConnection);
    });
    fleet.Finished = [](int status) { QCoreApplication::exit(status); };
    QSocketNotifier quit(quitSignals, QSocketNotifier::Read);
    QObject::connect(&quit, &QSocketNotifier::activated, &fleet, [&] {
        signalfd_siginfo info{};
        if (::read(quitSignals, &info, sizeof info) < 0)
            quit.setEnabled(false);
        fleet.Interrupt(kRunInterrupted);
    });
    fleet.Show(site->View(), definition.items);
    fleet.Start();
    site->Started();
    const int status = QCoreApplication::exec();
    site->Finished();
    SetErrorSink(nullptr);
    if (report && !ReportWritten(*report, fleet, options))
        return refused;
    return options.nagios ? site->WriteNagios(status, fleet.Failed()) : status;
}

} // namespace

int RunHeadless(const QStringList& arguments, const char* version, int quitSignals) {
    const TCommandLine line = ParseCommandLine(arguments);
    // A plugin's usage error is its UNKNOWN, whatever else the line holds.
    const bool nagios = arguments.contains(QStringLiteral("--nagios"));
    switch (line.action) {
    case TCommandLine::TAction::Help:
        WriteLine(stdout, line.text.toUtf8());
        return kRunCompleted;
    case TCommandLine::TAction::Version:
        WriteLine(stdout, QByteArray("zyl-test-run ") + version);
        return kRunCompleted;
    case TCommandLine::TAction::Error:
        if (nagios) {
            WriteRefusal(true, line.text.toUtf8());
            return kNagiosUnknown;
        }
        WriteLine(stderr, "zyl-test-run: " + line.text.toUtf8() + "\nTry 'zyl-test-run --help'.");
        return kRunUsage;
    case TCommandLine::TAction::Run:
        break;
    }
    return Run(line.options, quitSignals, version);
}
