#pragma once

#include <QByteArray>
#include <QList>

// The plugin statuses of Nagios and its kin, as the exit status.
enum TNagiosStatus : int {
    kNagiosOk = 0,
    kNagiosWarning = 1,
    kNagiosCritical = 2,
    kNagiosUnknown = 3
};

// What ended one controller's run, if anything did.
enum class TNagiosProblem { None, Connection, NoReply, CheckFailed, OutOfStep, TooManyResends };

// One controller's run, as the plugin judges it.
struct TNagiosController {
    QByteArray controller; // "address:port"
    TNagiosProblem problem = TNagiosProblem::None;
    QByteArray reason; // why, in words; empty: the problem's own words
    quint64 replies = 0;
    quint64 resends = 0;   // all within --max-resends unless TooManyResends
    double slowestMs = -1; // -1: no reply
};

// One item's slowest round trip over all controllers; -1: no reply.
struct TNagiosItem {
    QByteArray label;
    double slowestMs = -1;
};

// --warning MS and --critical MS; -1 when not given.
struct TNagiosThresholds {
    double warningMs = -1;
    double criticalMs = -1;
};

struct TNagiosReport {
    QByteArray text; // the lines to print, each ending in a line feed
    int status = kNagiosUnknown;
};

// The plugin's output for a run: one line with the state, the counts and per
// item the slowest round trip as performance data, then a line per
// controller that is not OK. CRITICAL for a problem or a round trip over
// the critical threshold; WARNING for a resend within the limit or a round
// trip over the warning threshold; OK otherwise.
TNagiosReport NagiosReport(const QList<TNagiosController>& controllers,
                           const QList<TNagiosItem>& items, const TNagiosThresholds& thresholds);
// UNKNOWN, for a usage or definition error.
TNagiosReport NagiosUnknown(const QByteArray& why);
