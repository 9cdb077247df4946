#pragma once

#include "runner/item_tally.h"
#include "runner/outage_log.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>

// How one controller's run ended, and what each item got.
struct TRunSummary {
    QByteArray controller;  // "address:port"
    int passes = 0;         // passes completed
    qint64 unsolicited = 0; // pieces of unsolicited data
    int exitStatus = 0;
    // Where and why the run stopped before it completed: the slot awaiting
    // its reply (0 when none did) and the message.
    int failingSlot = 0;
    QByteArray reason;
    QList<TItemTally> items; // in slot order
    qint64 outOfStep = 0;    // unsolicited pieces that completed a reply after the first command
    qint64 late = 0;         // late answers to resent commands
    // The command left unanswered: what became of it and what it gathered.
    QByteArrayList unanswered;
    TOutageLog connection; // its outages and failures (--reconnect)
};

// The lines that sum a run up, each without its line end: text, or a JSON
// object a line.

// One controller's summary: JSON, the text with a row per item, and the text
// in one line for one controller of many (with its unanswered command).
QByteArray SummaryJson(const TRunSummary& summary);
QByteArrayList SummaryText(const TRunSummary& summary, int labelWidth);
QByteArrayList BriefSummaryText(const TRunSummary& summary);

// After the summaries of several controllers: the totals, and which
// controllers failed and why.
QByteArray TotalsJson(const QList<TRunSummary>& failed, int controllers, qint64 replies,
                      qint64 resends, int exitStatus);
QByteArrayList TotalsText(const QList<TRunSummary>& failed, int controllers, qint64 replies,
                          qint64 resends, int exitStatus);
