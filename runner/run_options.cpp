#include "runner/run_options.h"

#include "base/exceptions.h"
#include "base/text.h"
#include "runner/run_help.h"

#include <QCommandLineParser>

#include <cmath>
#include <limits>

namespace {

// The longest time a QTimer can wait, in whole seconds.
constexpr int kMaxSeconds = 2000000;
// The longest wait before dialling again is no shorter than the first.
constexpr int kLeastReconnectMaxSeconds = TReconnectBackoff::kFirstMs / 1000;

struct TOptionError {
    QString text;
};

int WholeNumber(const QCommandLineParser& parser, const QCommandLineOption& option, int least = 0,
                int most = std::numeric_limits<int>::max()) {
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < least || value > most)
        throw TOptionError{QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                               .arg(option.names().constFirst())
                               .arg(least)
                               .arg(most)
                               .arg(parser.value(option))};
    return value;
}

// The option's value, given in seconds, in whole milliseconds.
int MsOfSecondsOption(const QCommandLineParser& parser, const QCommandLineOption& option,
                      double least = 0.001) {
    bool ok = false;
    const double seconds = parser.value(option).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < least || seconds > kMaxSeconds)
        throw TOptionError{QStringLiteral("--%1 wants seconds from %2 to %3, not \"%4\"")
                               .arg(option.names().constFirst())
                               .arg(least)
                               .arg(kMaxSeconds)
                               .arg(parser.value(option))};
    return int(std::lround(seconds * 1000));
}

// --metrics' value, its error a usage error.
TListenAddress ListenAddress(const QString& value) {
    try {
        return ParseListenAddress(TextBytes(value));
    } catch (const Exception& error) {
        throw TOptionError{"--metrics: " + QString::fromUtf8(error.Message())};
    }
}

// The options, with their help texts.
struct TOptions {
    const TRunOptions defaults;
    const QCommandLineOption help{{"h", "help"}, "Show this help."};
    const QCommandLineOption version{"version", "Show the version."};
    const QCommandLineOption address{
        "address", "Connect to this IPv4 address instead; give it again for more controllers.",
        "A"};
    const QCommandLineOption port{"port", "Connect to this TCP port instead.", "P"};
    const QCommandLineOption hosts{
        "hosts",
        "Run against every controller listed in FILE: one address or address:port a line "
        "(the definition's port when none is given), # comments.",
        "FILE"};
    const QCommandLineOption interval{
        "interval",
        QStringLiteral("Start a pass over the items no sooner than SECONDS after the previous "
                       "one started, per controller (default %1: back to back).")
            .arg(defaults.intervalMs / 1000.0),
        "SECONDS"};
    const QCommandLineOption maxConnecting{
        "max-connecting",
        QStringLiteral("Have at most N connection attempts in flight (default %1).")
            .arg(defaults.maxConnecting),
        "N"};
    const QCommandLineOption reconnect{
        "reconnect", "Dial a controller again whose connection failed, was lost or was given up."};
    const QCommandLineOption reconnectMax{
        "reconnect-max",
        QStringLiteral("Wait at most SECONDS before dialling again (default %1, at least %2).")
            .arg(defaults.reconnectMaxMs / 1000)
            .arg(kLeastReconnectMaxSeconds),
        "SECONDS"};
    const QCommandLineOption cycles{
        "cycles",
        QStringLiteral("Stop after N passes over the items (default %1).").arg(defaults.cycles),
        "N"};
    const QCommandLineOption duration{"duration", "Stop after this many seconds.", "SECONDS"};
    const QCommandLineOption timeout{
        "timeout",
        QStringLiteral("Give up when no complete reply came for this long (default %1).")
            .arg(defaults.timeoutMs / 1000.0),
        "SECONDS"};
    const QCommandLineOption replyTimeout{
        "reply-timeout",
        QStringLiteral("Resend a command whose reply has not come in MS ms (default %1).")
            .arg(defaults.replyTimeoutMs),
        "MS"};
    const QCommandLineOption maxResends{
        "max-resends",
        QStringLiteral("Let a reply need up to N resends and still pass (default %1).")
            .arg(defaults.maxResends),
        "N"};
    const QCommandLineOption allowUnsolicited{
        "allow-unsolicited",
        "Report replies that no command awaited (a controller known to chatter) without failing "
        "the run."};
    const QCommandLineOption json{"json", "Write JSON Lines instead of text."};
    const QCommandLineOption quiet{"quiet", "Print only the summary."};
    const QCommandLineOption junit{
        "junit",
        "Also write a JUnit XML report to FILE, whole or not at all; not over an input file.",
        "FILE"};
    const QCommandLineOption checks{
        "checks",
        "Judge the replies by the checks in FILE (default: NAME.checks.toml beside NAME.tst, "
        "when there is one).",
        "FILE"};
    const QCommandLineOption metrics{
        "metrics",
        QStringLiteral("Serve /metrics and a status page at ADDRESS:PORT while the run runs (%1 "
                       "when only a port is given; an IPv6 address in brackets).")
            .arg(QString::fromLatin1(TListenAddress{}.host)),
        "[ADDRESS:]PORT"};
    const QCommandLineOption nagios{"nagios", "Report as a Nagios plugin (see below)."};
    const QCommandLineOption warning{
        "warning", "With --nagios: WARNING when a round trip takes over MS ms.", "MS"};
    const QCommandLineOption critical{
        "critical", "With --nagios: CRITICAL when a round trip takes over MS ms.", "MS"};

    QList<QCommandLineOption> All() const {
        return {help,          version,    address,          port,    hosts,    interval,
                maxConnecting, reconnect,  reconnectMax,     cycles,  duration, timeout,
                replyTimeout,  maxResends, allowUnsolicited, json,    quiet,    junit,
                checks,        metrics,    nagios,           warning, critical};
    }
};

// Reads the values of the options given into options; throws TOptionError
// for a value out of its range.
void ReadValues(const QCommandLineParser& parser, const TOptions& known, TRunOptions& options) {
    for (const QString& value : parser.values(known.address))
        options.addresses.append(TextBytes(value));
    options.hostsFile = parser.value(known.hosts);
    if (parser.isSet(known.interval) && parser.value(known.interval) != "0")
        options.intervalMs = MsOfSecondsOption(parser, known.interval);
    if (parser.isSet(known.maxConnecting))
        options.maxConnecting = WholeNumber(parser, known.maxConnecting, 1);
    if (parser.isSet(known.reconnectMax))
        options.reconnectMaxMs =
            MsOfSecondsOption(parser, known.reconnectMax, kLeastReconnectMaxSeconds);
    if (parser.isSet(known.port))
        options.port = TextBytes(parser.value(known.port));
    // A duration alone makes passes unlimited.
    if (parser.isSet(known.cycles))
        options.cycles = WholeNumber(parser, known.cycles);
    else if (parser.isSet(known.duration))
        options.cycles = 0;
    if (parser.isSet(known.duration))
        options.durationMs = MsOfSecondsOption(parser, known.duration);
    if (parser.isSet(known.timeout))
        options.timeoutMs = MsOfSecondsOption(parser, known.timeout);
    if (parser.isSet(known.replyTimeout))
        options.replyTimeoutMs = WholeNumber(parser, known.replyTimeout, 1, kMaxSeconds * 1000);
    if (parser.isSet(known.maxResends))
        options.maxResends = WholeNumber(parser, known.maxResends);
    if (parser.isSet(known.metrics))
        options.metrics = ListenAddress(parser.value(known.metrics));
    if (parser.isSet(known.warning))
        options.nagiosLimits.warningMs = WholeNumber(parser, known.warning);
    if (parser.isSet(known.critical))
        options.nagiosLimits.criticalMs = WholeNumber(parser, known.critical);
    options.json = parser.isSet(known.json);
    options.quiet = parser.isSet(known.quiet);
    options.nagios = parser.isSet(known.nagios);
    options.allowUnsolicited = parser.isSet(known.allowUnsolicited);
    options.reconnect = parser.isSet(known.reconnect);
    options.junitFile = parser.value(known.junit);
    options.checksFile = parser.value(known.checks);
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(RunDescription());
    const TOptions known;
    parser.addOptions(known.All());
    parser.addPositionalArgument(
        "FILE", QStringLiteral("The test definition (default %1).").arg(known.defaults.file),
        "[FILE]");

    TCommandLine line;
    if (!parser.parse(arguments))
        return {TCommandLine::TAction::Error, {}, parser.errorText()};
    if (parser.isSet(known.help))
        return {TCommandLine::TAction::Help, {}, parser.helpText()};
    if (parser.isSet(known.version))
        return {TCommandLine::TAction::Version, {}, {}};
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return {TCommandLine::TAction::Error, {}, "Unexpected argument \"" + files[1] + "\""};
    if (!files.isEmpty())
        line.options.file = files.constFirst();
    try {
        ReadValues(parser, known, line.options);
    } catch (const TOptionError& error) {
        return {TCommandLine::TAction::Error, {}, error.text};
    }
    return line;
}
