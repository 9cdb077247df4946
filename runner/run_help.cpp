#include "runner/run_help.h"

#include "runner/nagios_report.h"
#include "runner/reconnect_backoff.h"
#include "runner/report_lines.h"
#include "runner/run_options.h"
#include "runner/run_status.h"
#include "sequencing/cycle_rules.h"
#include "sequencing/reply_matcher.h"

namespace {

// What the program does, for --help: its numbers are placeholders that
// RunDescription fills in from the constants they stand for.
constexpr char kDescription[] =
    "Runs a test definition (.tst) against a controller without a window: sends each "
    "item's command, waits for its reply ending in \"]\", and reports every reply.\n"
    "\n"
    "The next command goes out %1 ms after a reply. A command unanswered for "
    "--reply-timeout ms is sent again %1 ms later (%2 ms after the sending by default); "
    "a reply that completes after a resend may answer the earlier sending, so by default "
    "any resend fails the run (--max-resends N accepts up to N per reply). A reply that "
    "needed N resends may be followed by up to N late answers: the next command waits for "
    "them (or the reply's round trip and a reply timeout of quiet) and they are reported "
    "with \"late\": true, never as a reply; every \"]\" ends a reply. Bytes that arrive "
    "while no command awaits its reply are reported as unsolicited; once the first command "
    "went out, a reply among them puts the replies out of step (\"out_of_step\": true), "
    "fails every item answered and ends the run with status %3, unless --allow-unsolicited. "
    "After the last pass the run ends once the line stayed quiet for the longest round trip "
    "and %4 ms.\n"
    "\n"
    "--cycles 0 runs passes without limit, until --duration, a signal or a failure ends "
    "the run; --duration alone makes passes unlimited, and its end is a success (status %5).\n"
    "\n"
    "JSON Lines (--json): one object per reply with the keys controller, time (UTC), "
    "cycle, slot, label, command, reply, rtt_ms (from the first sending), resends, "
    "after_resend, late on a late answer, and for an item with a check, check (pass or fail) "
    "and why; one per unsolicited piece with controller, time, cycle, unsolicited (its first "
    "%6 bytes), bytes (its size) and out_of_step when it ends a reply; then one with the "
    "key summary. Every output writes bytes that are not UTF-8 as \\xNN, a backslash as "
    "\\\\, CR, LF and TAB as \\r, \\n, \\t, and other control characters, U+2028, U+2029, "
    "U+FFFE and U+FFFF as \\xNN per byte.\n"
    "\n"
    "Exit status: %5 passed, %7 connection failed or lost, %8 usage or definition error or a "
    "report that cannot be written whole, "
    "%9 the controller stopped answering, %10 a reply failed its check, %11 a reply needed "
    "more resends than --max-resends, %3 replies out of step (a reply no command awaited), "
    "%12 interrupted (SIGINT, SIGTERM, SIGHUP), %13 standard output "
    "closed.\n"
    "\n"
    "Several controllers (--address given more than once, --hosts) run side by side, each "
    "with its own connection and cycle; every line of output names its controller, each "
    "controller's summary is one line, and a last line (JSON: totals) sums them up and "
    "names the controllers that failed. The exit status is the most severe of theirs, in "
    "the order %7, %9, %3, %10, %11, %5; %12 or %13 when the whole run was stopped.\n"
    "\n"
    "--metrics serves, for as long as the run runs, GET /metrics in the Prometheus text "
    "format and GET / a status page that reloads itself. --nagios prints a plugin's one "
    "line (the state, the counts and per item the slowest round trip as performance data) "
    "and a line per failing controller, and exits %14 OK, %15 WARNING (a resend within "
    "--max-resends, a round trip over --warning), %16 CRITICAL (a failed check, no reply, the "
    "connection, replies out of step, a round trip over --critical) or %17 UNKNOWN (a usage "
    "or definition error).\n"
    "\n"
    "--reconnect watches a site: a controller whose connection cannot be made, is lost or "
    "is given up (--timeout) is dialled again, %18 s later, then %19 times longer after each "
    "further failure (+-%20 %, at most --reconnect-max), %18 s again once a connection has held "
    "a minute; its cycle resumes at the item it was on. Each outage is reported as it "
    "starts (\"outage\": reason) and ends (\"reconnected\": true, down_ms, attempts); the "
    "summary counts them, and a run with an outage ends with status %7.";

// "a minute" in the text.
static_assert(TReconnectBackoff::kHeldMs == 60000);

} // namespace

QString RunDescription() {
    const TRunOptions defaults;
    return QString::fromUtf8(kDescription)
        .arg(kSendDelayMs)
        .arg(defaults.replyTimeoutMs + kSendDelayMs)
        .arg(kRunOutOfStep)
        .arg(TReplyMatcher::kSettleMs)
        .arg(kRunCompleted)
        .arg(TUnsolicited::kShownBytes)
        .arg(kRunConnection)
        .arg(kRunUsage)
        .arg(kRunNoReply)
        .arg(kRunCheckFailed)
        .arg(kRunResends)
        .arg(kRunInterrupted)
        .arg(kRunOutputClosed)
        .arg(kNagiosOk)
        .arg(kNagiosWarning)
        .arg(kNagiosCritical)
        .arg(kNagiosUnknown)
        .arg(TReconnectBackoff::kFirstMs / 1000)
        .arg(TReconnectBackoff::kGrowth)
        .arg(qRound(TReconnectBackoff::kJitter * 100));
}
