#pragma once

#include "runner/item_tally.h"
#include "runner/outage_log.h"
#include "runner/run_definition.h"
#include "sequencing/reply_record.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdio>
#include <functional>
#include <optional>

struct TTotals;

// Writes text and a line end and flushes, so a pipe sees the line at once.
// False when the stream would not take it (a closed pipe: EPIPE).
bool WriteLine(FILE* stream, const QByteArray& text);

// Bytes that arrived while no command awaited its reply.
struct TUnsolicited {
    QDateTime time; // UTC
    int cycle = 0;
    QByteArray shown; // the first kShownBytes of them
    qsizetype size = 0;
    bool outOfStep = false; // they complete a reply after the first command went out
    // A controller that floods must not make the report as large as its flood.
    static constexpr qsizetype kShownBytes = 1024;
};

// How one controller's run ended, and what each item got.
struct TRunSummary {
    QByteArray controller;  // "address:port"
    int cycles = 0;         // passes completed
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

// Writes the replies as they come and the summary at the end: text in fixed
// columns or JSON Lines. A terminal sees every line at once; into a file or a
// pipe lines are buffered, and the owner calls Flush within 100 ms of
// FlushDue, so thousands of replies a second do not cost a write each. With
// nameControllers (one of many), every line of text about one controller
// names it.
class TRunOutput {
public:
    TRunOutput(FILE* out, bool json, bool quiet, int labelWidth, bool nameControllers);
    // Called when a line was buffered and nothing was waiting before it.
    std::function<void()> FlushDue;
    void Flush();
    void Reply(const QByteArray& controller, const TReplyRecord& record);
    void Unsolicited(const QByteArray& controller, const TUnsolicited& piece);
    // With brief, text output sums the run up in one line (one controller of
    // many); JSON is the same either way.
    void Summary(const TRunSummary& summary, bool brief = false);
    // After the summaries of several controllers: the totals, and which
    // controllers failed and why.
    // An outage began, or ended with a connection after attempts dials.
    void Outage(const QByteArray& controller, const QDateTime& time, const QByteArray& reason);
    void Reconnected(const QByteArray& controller, const QDateTime& time, qint64 downMs,
                     int attempts);
    void Totals(const QList<TRunSummary>& failed, int controllers, qint64 replies, qint64 resends,
                int exitStatus);
    // A write failed: the reader of standard output has gone.
    bool Closed() const { return m_closed; }

private:
    // The columns of one line of text.
    struct TRow {
        QString time, controller, cycle, slot, label, rtt, resends, check, reply;
    };
    void Line(const QByteArray& text);
    void Row(const TRow& row);
    void SummaryJson(const TRunSummary& summary, const TTotals& totals);
    // One line, for one controller of many.
    void SummaryLine(const TRunSummary& summary, const TTotals& totals);
    void SummaryText(const TRunSummary& summary, const TTotals& totals);

    FILE* m_out;
    bool m_buffered;
    bool m_pending = false;
    bool m_json;
    bool m_quiet;
    int m_labelWidth;
    bool m_nameControllers;
    bool m_headerDone = false;
    bool m_closed = false;
};

// The label column of the text output for these items.
int LabelWidthOf(const QList<TRunItem>& items);
