#include "base/quit_signals.h"
#include "controller_sim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

[[noreturn]] void UsageError(const QString& message) {
    std::fprintf(stderr, "controller-sim: %s\n", qPrintable(message));
    std::exit(1);
}

// A whole number within [min, max], or the option's default when it is absent.
qint64 NumberOption(const QCommandLineParser& parser, const QCommandLineOption& option, qint64 min,
                    qint64 max) {
    const QString text = parser.value(option);
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < min || value > max)
        UsageError(QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                       .arg(option.names().constFirst())
                       .arg(min)
                       .arg(max)
                       .arg(text));
    return value;
}

// The bytes an option's text stands for (see UnescapedText).
QByteArray TextOption(const QCommandLineParser& parser, const QCommandLineOption& option) {
    const std::optional<QByteArray> bytes = UnescapedText(parser.value(option));
    if (!bytes)
        UsageError(QStringLiteral("--%1 knows the escapes \\\\, \\r, \\n, \\t and \\xNN, "
                                  "not those in \"%2\"")
                       .arg(option.names().constFirst(), parser.value(option)));
    return *bytes;
}

struct Settings {
    QHostAddress address;
    quint16 port = 3001;
    bool quiet = false;
    SimBehaviour behaviour;
};

Settings ParseArguments(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A simulated display controller. A command ends at \"]\" (CR and LF are skipped) and "
        "gets a reply ending in \"]\". The first line on stdout is \"listening on "
        "<address>:<port>\". Counts are per connection; 0 switches a count off. The TEXT of "
        "--greet and --suffix is written as the runner shows bytes: \\\\ for a backslash, "
        "\\r, \\n, \\t, and \\xNN for any byte (for example --suffix '\\r\\n').");
    parser.addHelpOption();
    const QCommandLineOption port("port", "TCP port (default 3001); 0 picks a free one.", "port",
                                  "3001");
    const QCommandLineOption listen("listen", "IP address to listen on (default 127.0.0.1).",
                                    "address", "127.0.0.1");
    const QCommandLineOption delay("delay", "Wait this long before each reply.", "ms", "0");
    const QCommandLineOption split("split", "Send each reply in this many pieces.", "n", "1");
    const QCommandLineOption splitGap("split-gap", "Wait between two pieces (default 10).", "ms",
                                      "10");
    const QCommandLineOption dropEvery("drop-every", "Leave every Nth command unanswered.", "n",
                                       "0");
    const QCommandLineOption silent("silent", "Never reply.");
    const QCommandLineOption closeAfter(
        "close-after", "Close in order after the reply to the Nth command.", "n", "0");
    const QCommandLineOption resetAfter(
        "reset-after", "Abort with a reset (RST) after the reply to the Nth command.", "n", "0");
    const QCommandLineOption flood(
        "flood", "After connect, send bytes without \"]\" as fast as the client reads them.");
    const QCommandLineOption floodBytes(
        "flood-bytes", "Flood this many bytes, then stop (implies --flood).", "n", "0");
    const QCommandLineOption quiet("quiet", "Do not log connections and commands to stderr.");
    const QCommandLineOption stamp(
        "stamp", "Print \"reply <monotonic ns>\" on stdout as each reply's last byte goes out.");
    const QCommandLineOption urgent(
        "urgent", "Put an urgent (out-of-band, MSG_OOB) NUL byte in the middle of each reply.");
    const QCommandLineOption drip("drip",
                                  "Send each reply one byte at a time, each byte this long after "
                                  "the one before (the first this long after the command).",
                                  "ms", "0");
    const QCommandLineOption resetInReply(
        "reset-in-reply", "Abort with a reset (RST) halfway through the reply to the Nth command.",
        "n", "0");
    const QCommandLineOption halfCloseInReply(
        "half-close-in-reply",
        "Shut down the sending side (FIN) halfway through the reply to the Nth command, and go "
        "on reading until the client closes.",
        "n", "0");
    const QCommandLineOption closeOnAccept("close-on-accept",
                                           "Close each connection in order as soon as it is "
                                           "accepted.");
    const QCommandLineOption hangOnAccept(
        "hang-on-accept", "Accept each connection, then never read a command nor reply.");
    const QCommandLineOption bracketBurst(
        "bracket-burst", "Follow each reply, in the same write, by this many \"]\".", "n", "0");
    const QCommandLineOption longReply(
        "long-reply",
        "Pad each reply with this many euro signs (three bytes each in UTF-8) after its \"[\"; "
        "its \"]\" follows in a write of its own.",
        "n", "0");
    const QCommandLineOption greet(
        "greet", "Send this text as soon as a connection is accepted, before any command.", "text");
    const QCommandLineOption greetAfter(
        "greet-after", "Send the --greet text this long after the accept instead, whatever came.",
        "ms", "0");
    const QCommandLineOption pipelined(
        "pipelined", "Answer each command --delay after it arrived, without waiting for the "
                     "replies before it (they still go out in the order of their commands).");
    const QCommandLineOption repeatAfter(
        "repeat-after", "Send each reply a second time, this long after it went out.", "ms", "0");
    const QCommandLineOption suffix("suffix", "Send this text right after each reply's \"]\".",
                                    "text");
    const QCommandLineOption wrongReading(
        "wrong-reading", "Answer the temperature request with 72.5, out of the range the "
                         "example checks allow.");
    parser.addOptions(
        {greet,         port,         listen,       delay,      split,        splitGap,
         dropEvery,     silent,       closeAfter,   resetAfter, flood,        floodBytes,
         quiet,         stamp,        urgent,       drip,       resetInReply, halfCloseInReply,
         closeOnAccept, hangOnAccept, bracketBurst, longReply,  wrongReading, greetAfter,
         pipelined,     repeatAfter,  suffix});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        UsageError("unexpected argument \"" + parser.positionalArguments().constFirst() + "\"");

    constexpr qint64 kMaxMs = 3600 * 1000;
    constexpr qint64 kMaxCount = 1000 * 1000 * 1000;
    constexpr qint64 kMaxReplyBytes = 256 * 1024 * 1024;
    Settings settings;
    if (!settings.address.setAddress(parser.value(listen)))
        UsageError("--listen wants an IP address, not \"" + parser.value(listen) + "\"");
    settings.port = quint16(NumberOption(parser, port, 0, 65535));
    settings.quiet = parser.isSet(quiet);
    SimBehaviour& behaviour = settings.behaviour;
    behaviour.stampReplies = parser.isSet(stamp);
    behaviour.delayMs = int(NumberOption(parser, delay, 0, kMaxMs));
    behaviour.split = int(NumberOption(parser, split, 1, 1024));
    behaviour.splitGapMs = int(NumberOption(parser, splitGap, 0, kMaxMs));
    behaviour.dropEvery = int(NumberOption(parser, dropEvery, 0, kMaxCount));
    behaviour.silent = parser.isSet(silent);
    behaviour.closeAfter = int(NumberOption(parser, closeAfter, 0, kMaxCount));
    behaviour.resetAfter = int(NumberOption(parser, resetAfter, 0, kMaxCount));
    behaviour.floodBytes = NumberOption(parser, floodBytes, 0, std::numeric_limits<qint64>::max());
    behaviour.flood = parser.isSet(flood) || behaviour.floodBytes > 0;
    behaviour.urgent = parser.isSet(urgent);
    behaviour.dripMs = int(NumberOption(parser, drip, 0, kMaxMs));
    behaviour.resetInReply = int(NumberOption(parser, resetInReply, 0, kMaxCount));
    behaviour.halfCloseInReply = int(NumberOption(parser, halfCloseInReply, 0, kMaxCount));
    behaviour.closeOnAccept = parser.isSet(closeOnAccept);
    behaviour.hangOnAccept = parser.isSet(hangOnAccept);
    behaviour.greeting = TextOption(parser, greet);
    behaviour.greetAfterMs = int(NumberOption(parser, greetAfter, 0, kMaxMs));
    if (behaviour.greetAfterMs > 0 && behaviour.greeting.isEmpty())
        UsageError("--greet-after wants a --greet text");
    behaviour.pipelined = parser.isSet(pipelined);
    behaviour.repeatAfterMs = int(NumberOption(parser, repeatAfter, 0, kMaxMs));
    behaviour.suffix = TextOption(parser, suffix);
    behaviour.bracketBurst = int(NumberOption(parser, bracketBurst, 0, kMaxReplyBytes));
    behaviour.longReply = int(NumberOption(parser, longReply, 0, kMaxReplyBytes / 3));
    behaviour.wrongReading = parser.isSet(wrongReading);
    return settings;
}

QString Endpoint(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? '[' + address.toString() + ']'
                             : address.toString();
    return host + ':' + QString::number(port);
}

} // namespace

int main(int argc, char** argv) {
    const int quitSignals = QuitSignalDescriptor();
    if (quitSignals < 0) {
        std::perror("controller-sim: signalfd");
        return 1;
    }
    QCoreApplication app(argc, argv);
    const Settings settings = ParseArguments(app);
    if (settings.quiet)
        QLoggingCategory::setFilterRules("controller-sim.info=false");

    ControllerSim sim(settings.behaviour);
    if (!sim.Listen(settings.address, settings.port)) {
        std::fprintf(stderr, "controller-sim: cannot listen on %s: %s\n",
                     qPrintable(Endpoint(settings.address, settings.port)),
                     qPrintable(sim.ErrorString()));
        return 1;
    }
    // Scripts and tests read the chosen port from this first line.
    std::printf("listening on %s\n", qPrintable(Endpoint(settings.address, sim.ServerPort())));
    std::fflush(stdout);

    QSocketNotifier quitNotifier(quitSignals, QSocketNotifier::Read);
    QObject::connect(&quitNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    const int status = app.exec();
    ::close(quitSignals);
    return status;
}
