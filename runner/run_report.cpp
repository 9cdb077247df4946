#include "runner/run_report.h"

#include "base/text.h"
#include "runner/run_figures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <unistd.h>
#include <utility>

namespace {

// Milliseconds as text with three decimals.
QByteArray MsText(double ms) {
    return QByteArray::number(ms, 'f', 3);
}

// Milliseconds to the microsecond.
double Rounded(double ms) {
    return std::round(ms * 1000) / 1000;
}

// The check column: PASS or FAIL, or nothing for an item without a check.
QString CheckText(const TVerdict& verdict) {
    switch (verdict.outcome) {
    case TVerdict::TOutcome::Pass:
        return QStringLiteral("PASS");
    case TVerdict::TOutcome::Fail:
        return QStringLiteral("FAIL");
    default:
        return {};
    }
}

QString LocalTimeText(const QDateTime& time) {
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc() / 60;
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + (offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

// A label in a column of width characters: cut with an ellipsis when longer.
QString Column(const QString& text, int width) {
    return text.size() <= width ? text.leftJustified(width) : text.left(width - 1) + u'\u2026';
}

// "3 replies, 0 resends, 1 cycle completed".
QByteArray CountsText(const TRunSummary& summary, const TTotals& totals) {
    return Counted(totals.replies, "reply", "replies") + ", " +
           Counted(totals.resends, "resend", "resends") + ", " +
           Counted(summary.cycles, "cycle", "cycles") + " completed" +
           (summary.connection.Outages() > 0
                ? ", " + Counted(qsizetype(summary.connection.Outages()), "outage", "outages")
                : QByteArray());
}

QJsonValue RoundTripsJson(const TRttHistogram& ms) {
    const std::optional<TRoundTrips> rtt = RoundTripsOf(ms);
    if (!rtt)
        return QJsonValue();
    return QJsonObject{{"min", Rounded(rtt->min)},
                       {"median", Rounded(rtt->median)},
                       {"p99", Rounded(rtt->p99)},
                       {"max", Rounded(rtt->max)}};
}

QByteArray RoundTripsText(const TRttHistogram& ms) {
    const std::optional<TRoundTrips> rtt = RoundTripsOf(ms);
    if (!rtt)
        return "no replies";
    return "min " + MsText(rtt->min) + "  median " + MsText(rtt->median) + "  p99 " +
           MsText(rtt->p99) + "  max " + MsText(rtt->max);
}

} // namespace

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

void TRunOutput::Flush() {
    m_pending = false;
    if (!m_closed)
        m_closed = std::fflush(m_out) != 0 || std::ferror(m_out) != 0;
}

void TRunOutput::Row(const TRow& row) {
    if (!m_headerDone) {
        m_headerDone = true;
        Row({"time", "controller", "cycle", "slot", "label", "rtt ms", "resends", "check",
             "reply"});
    }
    // The widest "address:port".
    constexpr int kControllerWidth = 21;
    const QString controller =
        m_nameControllers ? row.controller.leftJustified(kControllerWidth) + "  " : QString();
    // The reply comes last, so no column moves however long replies grow.
    Line((row.time.leftJustified(30) + "  " + controller + row.cycle.rightJustified(5) + "  " +
          row.slot.rightJustified(4) + "  " + Column(row.label, m_labelWidth) + "  " +
          row.rtt.rightJustified(10) + "  " + row.resends.rightJustified(7) + "  " +
          row.check.leftJustified(5) + "  " + row.reply)
             .toUtf8());
}

void TRunOutput::Reply(const QByteArray& controller, const TReplyRecord& record) {
    if (m_quiet)
        return;
    if (m_json)
        return Line(ReplyJson(controller, record));
    Row({LocalTimeText(record.time), QString::fromLatin1(controller), QString::number(record.cycle),
         QString::number(record.slot), EscapedLine(record.label),
         QString::fromLatin1(MsText(record.rttMs)), QString::number(record.resends),
         record.late ? QStringLiteral("LATE") : CheckText(record.verdict),
         EscapedLine(record.reply)});
}

void TRunOutput::Unsolicited(const QByteArray& controller, const TUnsolicited& piece) {
    if (m_quiet)
        return;
    if (m_json) {
        QJsonObject object{
            {"controller", QString::fromLatin1(controller)},
            {"time", piece.time.toString(Qt::ISODateWithMs)},
            {"cycle", piece.cycle},
            {"unsolicited", EscapedLine(piece.shown)},
            {"bytes", piece.size},
        };
        if (piece.outOfStep)
            object.insert("out_of_step", true);
        return Line(QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    Row({LocalTimeText(piece.time), QString::fromLatin1(controller), QString::number(piece.cycle),
         "-", piece.outOfStep ? "out of step" : "unsolicited", "-", "-", "",
         EscapedLine(piece.shown) + (piece.size > piece.shown.size()
                                         ? QStringLiteral(" \u2026 (%1 bytes)").arg(piece.size)
                                         : QString())});
}

void TRunOutput::Summary(const TRunSummary& summary, bool brief) {
    const TTotals totals = TotalsOf(summary.items);
    if (m_json)
        SummaryJson(summary, totals);
    else if (brief)
        SummaryLine(summary, totals);
    else
        SummaryText(summary, totals);
}

void TRunOutput::SummaryJson(const TRunSummary& summary, const TTotals& totals) {
    QJsonArray items;
    for (const TItemTally& tally : summary.items)
        items.append(QJsonObject{{"slot", tally.item.slot},
                                 {"label", EscapedLine(tally.item.label)},
                                 {"replies", tally.replies},
                                 {"resends", tally.resends},
                                 {"after_resend", tally.afterResend},
                                 {"passed", tally.passed},
                                 {"failed", tally.failed},
                                 {"rtt_ms", RoundTripsJson(tally.rtt)}});
    QJsonObject object{
        {"controller", QString::fromLatin1(summary.controller)},
        {"replies", totals.replies},
        {"resends", totals.resends},
        {"after_resend", totals.afterResend},
        {"unsolicited", summary.unsolicited},
        {"out_of_step", summary.outOfStep},
        {"late", summary.late},
        {"cycles", summary.cycles},
        {"rtt_ms", RoundTripsJson(totals.rttMs)},
        {"slowest_ms", totals.rttMs.Count() == 0 ? QJsonValue() : Rounded(totals.slowestMs)},
        {"items", items},
        {"exit_status", summary.exitStatus},
    };
    AddOutageJson(object, summary.connection);
    if (totals.afterResend > 0)
        object.insert("avoiding_reply_timeout_ms", AvoidingReplyTimeout(totals.slowestMs));
    if (!summary.reason.isEmpty()) {
        object.insert("failing_slot", summary.failingSlot);
        object.insert("reason", EscapedLine(summary.reason));
    }
    if (!summary.unanswered.isEmpty()) {
        QJsonArray unanswered;
        for (const QByteArray& line : summary.unanswered)
            unanswered.append(EscapedLine(line));
        object.insert("unanswered", unanswered);
    }
    Line(QJsonDocument(QJsonObject{{"summary", object}}).toJson(QJsonDocument::Compact));
}

void TRunOutput::SummaryLine(const TRunSummary& summary, const TTotals& totals) {
    Line(summary.controller + ": " + CountsText(summary, totals) + "; round trip ms " +
         RoundTripsText(totals.rttMs) + "; status " + QByteArray::number(summary.exitStatus) +
         (summary.reason.isEmpty() ? QByteArray() : ": " + EscapedLine(summary.reason).toUtf8()));
    for (const QByteArray& line : summary.unanswered)
        Line(summary.controller + ": " + EscapedLine(line).toUtf8());
}

void TRunOutput::SummaryText(const TRunSummary& summary, const TTotals& totals) {
    Line(CountsText(summary, totals));
    Line("round trip ms: " + RoundTripsText(totals.rttMs));
    const auto itemRow = [this](const QString& slot, const QString& label, const QString& replies,
                                const QString& resends, const QString& passed,
                                const QString& failed, const QString& rtt) {
        Line((slot.rightJustified(4) + "  " + Column(label, m_labelWidth) + "  " +
              replies.rightJustified(7) + "  " + resends.rightJustified(7) + "  " +
              passed.rightJustified(6) + "  " + failed.rightJustified(6) + "  " + rtt)
                 .toUtf8());
    };
    itemRow("slot", "label", "replies", "resends", "passed", "failed", "round trip ms");
    for (const TItemTally& tally : summary.items)
        itemRow(QString::number(tally.item.slot), EscapedLine(tally.item.label),
                QString::number(tally.replies), QString::number(tally.resends),
                QString::number(tally.passed), QString::number(tally.failed),
                QString::fromLatin1(RoundTripsText(tally.rtt)));
    if (totals.afterResend > 0)
        Line(Counted(totals.afterResend, "reply", "replies") +
             " completed after a resend and may answer an earlier sending; the slowest reply "
             "took " +
             MsText(totals.slowestMs) + " ms: --reply-timeout " +
             QByteArray::number(AvoidingReplyTimeout(totals.slowestMs)) +
             " would have avoided the resends");
    if (summary.late > 0)
        Line(Counted(summary.late, "late answer", "late answers") +
             " to resent commands, not taken as replies");
    if (summary.unsolicited > 0)
        Line(Counted(summary.unsolicited, "piece", "pieces") +
             " of unsolicited data, not taken as replies" +
             (summary.outOfStep > 0
                  ? ", " + QByteArray::number(summary.outOfStep) + " of them out of step"
                  : QByteArray()));
    if (!summary.reason.isEmpty())
        Line("stopped" +
             (summary.failingSlot > 0 ? " at slot " + QByteArray::number(summary.failingSlot)
                                      : QByteArray()) +
             ": " + EscapedLine(summary.reason).toUtf8());
    for (const QByteArray& line : summary.unanswered)
        Line(EscapedLine(line).toUtf8());
    for (const QByteArray& line : OutageLines(summary.connection))
        Line(line);
}

void TRunOutput::Outage(const QByteArray& controller, const QDateTime& time,
                        const QByteArray& reason) {
    if (m_quiet)
        return;
    if (m_json)
        return Line(QJsonDocument(QJsonObject{{"controller", QString::fromLatin1(controller)},
                                              {"time", time.toString(Qt::ISODateWithMs)},
                                              {"outage", EscapedLine(reason)}})
                        .toJson(QJsonDocument::Compact));
    Line(LocalTimeText(time).toUtf8() + "  " + controller +
         ": outage: " + EscapedLine(reason).toUtf8());
}

void TRunOutput::Reconnected(const QByteArray& controller, const QDateTime& time, qint64 downMs,
                             int attempts) {
    if (m_quiet)
        return;
    if (m_json)
        return Line(QJsonDocument(QJsonObject{{"controller", QString::fromLatin1(controller)},
                                              {"time", time.toString(Qt::ISODateWithMs)},
                                              {"reconnected", true},
                                              {"down_ms", downMs},
                                              {"attempts", attempts}})
                        .toJson(QJsonDocument::Compact));
    Line(LocalTimeText(time).toUtf8() + "  " + controller + ": reconnected after " +
         MsText(double(downMs)) + " ms down, " + Counted(attempts, "attempt", "attempts"));
}

void TRunOutput::Totals(const QList<TRunSummary>& failed, int controllers, qint64 replies,
                        qint64 resends, int exitStatus) {
    if (m_json) {
        QJsonArray failures;
        for (const TRunSummary& summary : failed)
            failures.append(QJsonObject{{"controller", QString::fromLatin1(summary.controller)},
                                        {"exit_status", summary.exitStatus},
                                        {"reason", EscapedLine(summary.reason)}});
        return Line(QJsonDocument(QJsonObject{{"totals",
                                               QJsonObject{
                                                   {"controllers", controllers},
                                                   {"failed", failures},
                                                   {"replies", replies},
                                                   {"resends", resends},
                                                   {"exit_status", exitStatus},
                                               }}})
                        .toJson(QJsonDocument::Compact));
    }
    Line(Counted(controllers, "controller", "controllers") + ": " +
         QByteArray::number(controllers - failed.size()) + " passed, " +
         QByteArray::number(failed.size()) + " failed; " + Counted(replies, "reply", "replies") +
         ", " + Counted(resends, "resend", "resends") + "; status " +
         QByteArray::number(exitStatus));
    for (const TRunSummary& summary : failed)
        Line("failed: " + summary.controller + " (status " +
             QByteArray::number(summary.exitStatus) +
             (summary.reason.isEmpty() ? QByteArray(")")
                                       : "): " + EscapedLine(summary.reason).toUtf8()));
}
