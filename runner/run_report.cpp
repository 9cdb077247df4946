#include "runner/run_report.h"

#include "base/text.h"

#include <algorithm>
#include <unistd.h>
#include <utility>

bool WriteLine(FILE* stream, const QByteArray& text) {
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    std::fputc('\n', stream);
    return std::fflush(stream) == 0 && !std::ferror(stream);
}

int LabelWidthOf(const QList<TRunItem>& items) {
    // Wide enough for the marker of unsolicited data; a longer label is cut.
    qsizetype width = 11;
    for (const TRunItem& item : items)
        width = std::max(width, EscapedLine(item.label).size());
    return int(std::min<qsizetype>(width, 32));
}

TRunOutput::TRunOutput(FILE* out, bool json, bool quiet, int labelWidth, bool nameControllers)
    : m_out(out), m_buffered(!::isatty(::fileno(out))), m_json(json), m_quiet(quiet),
      m_labelWidth(labelWidth), m_nameControllers(nameControllers) {}

void TRunOutput::Line(const QByteArray& text) {
    if (m_closed)
        return;
    if (!m_buffered) {
        m_closed = !WriteLine(m_out, text);
        return;
    }
    std::fwrite(text.constData(), 1, size_t(text.size()), m_out);
    std::fputc('\n', m_out);
    // A full buffer is written on the way, and fails there on a closed pipe.
    m_closed = std::ferror(m_out) != 0;
    if (!m_closed && !std::exchange(m_pending, true) && FlushDue)
        FlushDue();
}

void TRunOutput::Lines(const QByteArrayList& lines) {
    for (const QByteArray& line : lines)
        Line(line);
}

void TRunOutput::Flush() {
    m_pending = false;
    if (!m_closed)
        m_closed = std::fflush(m_out) != 0 || std::ferror(m_out) != 0;
}

void TRunOutput::Row(const TReportRow& row) {
    if (!std::exchange(m_headerDone, true))
        Line(RowText(HeaderRow(), m_labelWidth, m_nameControllers));
    Line(RowText(row, m_labelWidth, m_nameControllers));
}

void TRunOutput::Reply(const QByteArray& controller, const TReplyRecord& record) {
    if (m_quiet)
        return;
    if (m_json)
        return Line(ReplyJson(controller, record));
    Row(ReplyRow(controller, record));
}

void TRunOutput::Unsolicited(const QByteArray& controller, const TUnsolicited& piece) {
    if (m_quiet)
        return;
    if (m_json)
        return Line(UnsolicitedJson(controller, piece));
    Row(UnsolicitedRow(controller, piece));
}

void TRunOutput::Summary(const TRunSummary& summary, bool brief) {
    if (m_json)
        Line(SummaryJson(summary));
    else if (brief)
        Lines(BriefSummaryText(summary));
    else
        Lines(SummaryText(summary, m_labelWidth));
}

void TRunOutput::Outage(const QByteArray& controller, const QDateTime& time,
                        const QByteArray& reason) {
    if (m_quiet)
        return;
    Line(m_json ? OutageJson(controller, time, reason) : OutageText(controller, time, reason));
}

void TRunOutput::Reconnected(const QByteArray& controller, const QDateTime& time, qint64 downMs,
                             int attempts) {
    if (m_quiet)
        return;
    Line(m_json ? ReconnectedJson(controller, time, downMs, attempts)
                : ReconnectedText(controller, time, downMs, attempts));
}

void TRunOutput::Totals(const QList<TRunSummary>& failed, int controllers, qint64 replies,
                        qint64 resends, int exitStatus) {
    if (m_json)
        Line(TotalsJson(failed, controllers, replies, resends, exitStatus));
    else
        Lines(TotalsText(failed, controllers, replies, resends, exitStatus));
}
