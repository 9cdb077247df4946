#pragma once

#include "runner/http_service.h"
#include "runner/nagios_report.h"
#include "runner/reconnect_backoff.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Connection attempts in flight at once, unless --max-connecting says
// otherwise: enough to reach a station's units at once, few enough that
// thousands of controllers are dialled in waves rather than in one burst.
inline constexpr int kDefaultMaxConnecting = 128;

// What one headless run does, as the command line asked.
struct TRunOptions {
    QString file = QStringLiteral("default1.tst");
    QList<QByteArray> addresses;    // replace the definition's address line, a controller each
    QString hostsFile;              // more controllers, a line each
    std::optional<QByteArray> port; // replaces the definition's port line
    int cycles = 1;                 // passes over the items; 0: no limit
    int durationMs = 0;             // stop after this long; 0: no limit
    int timeoutMs = 10000;          // give up after this long without a complete reply
    int replyTimeoutMs = 1000;      // resend a command unanswered this long (then the send delay)
    int maxResends = 0;             // resends a reply may need and still pass
    int intervalMs = 0;             // least time from the start of a pass to the start of the next
    int maxConnecting = kDefaultMaxConnecting; // connection attempts in flight at once
    bool reconnect = false; // dial a lost or given-up controller again rather than stop
    int reconnectMaxMs = TReconnectBackoff::kDefaultMaxMs; // the longest wait before dialling again
    bool quiet = false;                                    // the summary only
    bool allowUnsolicited = false;         // replies no command awaited are reported, not failing
    bool json = false;                     // JSON Lines instead of aligned text
    QString junitFile;                     // empty: no JUnit report
    QString checksFile;                    // empty: the definition's own, if it has one
    std::optional<TListenAddress> metrics; // where /metrics and the status page are served
    bool nagios = false;                   // the plugin's output and statuses instead
    TNagiosThresholds nagiosLimits;        // --warning and --critical
};

// The command line read: run with options, or show help or the version, or
// refuse (text then says why).
struct TCommandLine {
    enum class TAction { Run, Help, Version, Error };
    TAction action = TAction::Run;
    TRunOptions options;
    QString text; // the help text, or the usage error
};

// Reads the arguments (the program name first). A --cycles given without
// --duration, or --duration without --cycles, makes the other unlimited.
TCommandLine ParseCommandLine(const QStringList& arguments);
