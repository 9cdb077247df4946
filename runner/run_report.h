#pragma once

#include "runner/report_lines.h"
#include "runner/run_definition.h"
#include "runner/summary_lines.h"
#include "sequencing/reply_record.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

#include <cstdio>
#include <functional>

// Writes text and a line end and flushes, so a pipe sees the line at once.
// False when the stream would not take it (a closed pipe: EPIPE).
bool WriteLine(FILE* stream, const QByteArray& text);

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
    // An outage began, or ended with a connection after attempts dials.
    void Outage(const QByteArray& controller, const QDateTime& time, const QByteArray& reason);
    void Reconnected(const QByteArray& controller, const QDateTime& time, qint64 downMs,
                     int attempts);
    // After the summaries of several controllers: the totals, and which
    // controllers failed and why.
    void Totals(const QList<TRunSummary>& failed, int controllers, qint64 replies, qint64 resends,
                int exitStatus);
    // A write failed: the reader of standard output has gone.
    bool Closed() const { return m_closed; }

private:
    void Line(const QByteArray& text);
    void Lines(const QByteArrayList& lines);
    void Row(const TReportRow& row);

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
