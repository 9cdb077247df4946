#include "runner/run_options.h"

#include "base/text.h"

#include <QCommandLineParser>

#include <cmath>

namespace {

// The longest time a QTimer can wait, in whole seconds.
constexpr int kMaxSeconds = 2000000;

struct TOptionError {
    QString text;
};

int WholeNumber(const QCommandLineParser& parser, const QCommandLineOption& option) {
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < 0)
        throw TOptionError{QStringLiteral("--%1 wants a whole number of 0 or more, not \"%2\"")
                               .arg(option.names().constFirst(), parser.value(option))};
    return value;
}

// The option's value, given in seconds, in whole milliseconds.
int MsOfSecondsOption(const QCommandLineParser& parser, const QCommandLineOption& option) {
    bool ok = false;
    const double seconds = parser.value(option).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0.001 || seconds > kMaxSeconds)
        throw TOptionError{QStringLiteral("--%1 wants seconds from 0.001 to %2, not \"%3\"")
                               .arg(option.names().constFirst())
                               .arg(kMaxSeconds)
                               .arg(parser.value(option))};
    return int(std::lround(seconds * 1000));
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Runs a test definition (.tst) against a controller without a window: sends each "
        "item's command, waits for its reply ending in \"]\", and reports every reply.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption version("version", "Show the version.");
    const QCommandLineOption address("address", "Connect to this IPv4 address instead.", "A");
    const QCommandLineOption port("port", "Connect to this TCP port instead.", "P");
    const QCommandLineOption cycles("cycles", "Stop after N passes over the items (default 1).",
                                    "N", "1");
    const QCommandLineOption duration("duration", "Stop after this many seconds.", "SECONDS");
    const QCommandLineOption timeout(
        "timeout", "Give up when no complete reply came for this long (default 10).", "SECONDS",
        "10");
    const QCommandLineOption json("json", "Write JSON Lines instead of text.");
    const QCommandLineOption junit("junit", "Also write a JUnit XML report to FILE.", "FILE");
    parser.addOptions({help, version, address, port, cycles, duration, timeout, json, junit});
    parser.addPositionalArgument("FILE", "The test definition (default default1.tst).", "[FILE]");

    TCommandLine line;
    if (!parser.parse(arguments))
        return {TCommandLine::TAction::Error, {}, parser.errorText()};
    if (parser.isSet(help))
        return {TCommandLine::TAction::Help, {}, parser.helpText()};
    if (parser.isSet(version))
        return {TCommandLine::TAction::Version, {}, {}};
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return {TCommandLine::TAction::Error, {}, "Unexpected argument \"" + files[1] + "\""};

    TRunOptions& options = line.options;
    try {
        if (!files.isEmpty())
            options.file = files.constFirst();
        if (parser.isSet(address))
            options.address = TextBytes(parser.value(address));
        if (parser.isSet(port))
            options.port = TextBytes(parser.value(port));
        options.cycles =
            parser.isSet(duration) && !parser.isSet(cycles) ? 0 : WholeNumber(parser, cycles);
        if (parser.isSet(duration))
            options.durationMs = MsOfSecondsOption(parser, duration);
        options.timeoutMs = MsOfSecondsOption(parser, timeout);
    } catch (const TOptionError& error) {
        return {TCommandLine::TAction::Error, {}, error.text};
    }
    options.json = parser.isSet(json);
    options.junitFile = parser.value(junit);
    return line;
}
