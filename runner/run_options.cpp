#include "runner/run_options.h"

#include "base/exceptions.h"
#include "base/text.h"

#include <QCommandLineParser>

#include <cmath>
#include <limits>

namespace {

// The longest time a QTimer can wait, in whole seconds.
constexpr int kMaxSeconds = 2000000;

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

// What the program does, for --help.
constexpr char kDescription[] =
    "Runs a test definition (.tst) against a controller without a window: sends each "
    "item's command, waits for its reply ending in \"]\", and reports every reply.\n"
    "\n"
    "The next command goes out 100 ms after a reply. A command unanswered for "
    "--reply-timeout ms is sent again 100 ms later (1100 ms after the sending by default); "
    "a reply that completes after a resend may answer the earlier sending, so by default "
    "any resend fails the run (--max-resends N accepts up to N per reply). A reply that "
    "needed N resends may be followed by up to N late answers: the next command waits for "
    "them (or the reply's round trip and a reply timeout of quiet) and they are reported "
    "with \"late\": true, never as a reply; every \"]\" ends a reply. Bytes that arrive "
    "while no command awaits its reply are reported as unsolicited; once the first command "
    "went out, a reply among them puts the replies out of step (\"out_of_step\": true), "
    "fails every item answered and ends the run with status 6, unless --allow-unsolicited. "
    "After the last pass the run ends once the line stayed quiet for the longest round trip "
    "and 200 ms.\n"
    "\n"
    "--cycles 0 runs passes without limit, until --duration, a signal or a failure ends "
    "the run; --duration alone makes passes unlimited, and its end is a success (status 0).\n"
    "\n"
    "JSON Lines (--json): one object per reply with the keys controller, time (UTC), "
    "cycle, slot, label, command, reply, rtt_ms (from the first sending), resends, "
    "after_resend, late on a late answer, and for an item with a check, check (pass or fail) "
    "and why; one per unsolicited piece with controller, time, cycle, unsolicited (its first "
    "1024 bytes), bytes (its size) and out_of_step when it ends a reply; then one with the "
    "key summary. Every output writes bytes that are not UTF-8 as \\xNN, a backslash as "
    "\\\\, CR, LF and TAB as \\r, \\n, \\t, and other control characters, U+2028, U+2029, "
    "U+FFFE and U+FFFF as \\xNN per byte.\n"
    "\n"
    "Exit status: 0 passed, 1 connection failed or lost, 2 usage or definition error or a "
    "report that cannot be written whole, "
    "3 the controller stopped answering, 4 a reply failed its check, 5 a reply needed "
    "more resends than --max-resends, 6 replies out of step (a reply no command awaited), "
    "130 interrupted (SIGINT, SIGTERM, SIGHUP), 141 standard output "
    "closed.\n"
    "\n"
    "Several controllers (--address given more than once, --hosts) run side by side, each "
    "with its own connection and cycle; every line of output names its controller, each "
    "controller's summary is one line, and a last line (JSON: totals) sums them up and "
    "names the controllers that failed. The exit status is the most severe of theirs, in "
    "the order 1, 3, 6, 4, 5, 0; 130 or 141 when the whole run was stopped.\n"
    "\n"
    "--metrics serves, for as long as the run runs, GET /metrics in the Prometheus text "
    "format and GET / a status page that reloads itself. --nagios prints a plugin's one "
    "line (the state, the counts and per item the slowest round trip as performance data) "
    "and a line per failing controller, and exits 0 OK, 1 WARNING (a resend within "
    "--max-resends, a round trip over --warning), 2 CRITICAL (a failed check, no reply, the "
    "connection, replies out of step, a round trip over --critical) or 3 UNKNOWN (a usage "
    "or definition error).\n"
    "\n"

    "--reconnect watches a site: a controller whose connection cannot be made, is lost or "
    "is given up (--timeout) is dialled again, 1 s later, then 1.6 times longer after each "
    "further failure (+-20 %, at most --reconnect-max), 1 s again once a connection has held "
    "a minute; its cycle resumes at the item it was on. Each outage is reported as it "
    "starts (\"outage\": reason) and ends (\"reconnected\": true, down_ms, attempts); the "
    "summary counts them, and a run with an outage ends with status 1.";

// The options, with their help texts.
struct TOptions {
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
        "Start a pass over the items no sooner than SECONDS after the previous one started, "
        "per controller (default 0: back to back).",
        "SECONDS"};
    const QCommandLineOption maxConnecting{
        "max-connecting",
        QStringLiteral("Have at most N connection attempts in flight (default %1).")
            .arg(kDefaultMaxConnecting),
        "N"};
    const QCommandLineOption reconnect{
        "reconnect", "Dial a controller again whose connection failed, was lost or was given up."};
    const QCommandLineOption reconnectMax{
        "reconnect-max",
        QStringLiteral("Wait at most SECONDS before dialling again (default %1, at least 1).")
            .arg(TReconnectBackoff::kDefaultMaxMs / 1000),
        "SECONDS"};
    const QCommandLineOption cycles{"cycles", "Stop after N passes over the items (default 1).",
                                    "N", "1"};
    const QCommandLineOption duration{"duration", "Stop after this many seconds.", "SECONDS"};
    const QCommandLineOption timeout{
        "timeout", "Give up when no complete reply came for this long (default 10).", "SECONDS",
        "10"};
    const QCommandLineOption replyTimeout{
        "reply-timeout", "Resend a command whose reply has not come in MS ms (default 1000).", "MS",
        "1000"};
    const QCommandLineOption maxResends{
        "max-resends", "Let a reply need up to N resends and still pass (default 0).", "N", "0"};
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
        "Serve /metrics and a status page at ADDRESS:PORT while the run runs (127.0.0.1 when "
        "only a port is given; an IPv6 address in brackets).",
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
        options.reconnectMaxMs = MsOfSecondsOption(parser, known.reconnectMax, 1);
    if (parser.isSet(known.port))
        options.port = TextBytes(parser.value(known.port));
    options.cycles = parser.isSet(known.duration) && !parser.isSet(known.cycles)
                         ? 0
                         : WholeNumber(parser, known.cycles);
    if (parser.isSet(known.duration))
        options.durationMs = MsOfSecondsOption(parser, known.duration);
    options.timeoutMs = MsOfSecondsOption(parser, known.timeout);
    options.replyTimeoutMs = WholeNumber(parser, known.replyTimeout, 1, kMaxSeconds * 1000);
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
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const TOptions known;
    parser.addOptions(known.All());
    parser.addPositionalArgument("FILE", "The test definition (default default1.tst).", "[FILE]");

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
