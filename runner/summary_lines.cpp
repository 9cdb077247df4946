#include "runner/summary_lines.h"

#include "base/text.h"
#include "runner/report_lines.h"
#include "runner/run_figures.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>
#include <optional>

namespace {

// Milliseconds to the microsecond.
double Rounded(double ms) {
    return std::round(ms * 1000) / 1000;
}

// "3 replies, 0 resends, 1 cycle completed".
QByteArray CountsText(const TRunSummary& summary, const TTotals& totals) {
    return Counted(totals.replies, "reply", "replies") + ", " +
           Counted(totals.resends, "resend", "resends") + ", " +
           Counted(summary.passes, "cycle", "cycles") + " completed" +
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

QJsonArray ItemsJson(const QList<TItemTally>& tallies) {
    QJsonArray items;
    for (const TItemTally& tally : tallies)
        items.append(QJsonObject{{"slot", tally.item.slot},
                                 {"label", EscapedLine(tally.item.label)},
                                 {"replies", tally.replies},
                                 {"resends", tally.resends},
                                 {"after_resend", tally.afterResend},
                                 {"passed", tally.passed},
                                 {"failed", tally.failed},
                                 {"rtt_ms", RoundTripsJson(tally.rtt)}});
    return items;
}

// The table of items under a summary in text, its header first.
QByteArrayList ItemRows(const QList<TItemTally>& tallies, int labelWidth) {
    const auto itemRow = [labelWidth](const QString& slot, const QString& label,
                                      const QString& replies, const QString& resends,
                                      const QString& passed, const QString& failed,
                                      const QString& rtt) {
        return (slot.rightJustified(4) + "  " + Column(label, labelWidth) + "  " +
                replies.rightJustified(7) + "  " + resends.rightJustified(7) + "  " +
                passed.rightJustified(6) + "  " + failed.rightJustified(6) + "  " + rtt)
            .toUtf8();
    };
    QByteArrayList rows{
        itemRow("slot", "label", "replies", "resends", "passed", "failed", "round trip ms")};
    for (const TItemTally& tally : tallies)
        rows.append(itemRow(QString::number(tally.item.slot), EscapedLine(tally.item.label),
                            QString::number(tally.replies), QString::number(tally.resends),
                            QString::number(tally.passed), QString::number(tally.failed),
                            QString::fromLatin1(RoundTripsText(tally.rtt))));
    return rows;
}

// What the summary in text says after its items: resends, late answers,
// unsolicited data and why the run stopped.
QByteArrayList SummaryNotes(const TRunSummary& summary, const TTotals& totals) {
    QByteArrayList notes;
    if (totals.afterResend > 0)
        notes.append(Counted(totals.afterResend, "reply", "replies") +
                     " completed after a resend and may answer an earlier sending; the slowest "
                     "reply took " +
                     MsText(totals.slowestMs) + " ms: --reply-timeout " +
                     QByteArray::number(AvoidingReplyTimeout(totals.slowestMs)) +
                     " would have avoided the resends");
    if (summary.late > 0)
        notes.append(Counted(summary.late, "late answer", "late answers") +
                     " to resent commands, not taken as replies");
    if (summary.unsolicited > 0)
        notes.append(Counted(summary.unsolicited, "piece", "pieces") +
                     " of unsolicited data, not taken as replies" +
                     (summary.outOfStep > 0
                          ? ", " + QByteArray::number(summary.outOfStep) + " of them out of step"
                          : QByteArray()));
    if (!summary.reason.isEmpty())
        notes.append("stopped" +
                     (summary.failingSlot > 0
                          ? " at slot " + QByteArray::number(summary.failingSlot)
                          : QByteArray()) +
                     ": " + EscapedLine(summary.reason).toUtf8());
    return notes;
}

} // namespace

QByteArray SummaryJson(const TRunSummary& summary) {
    const TTotals totals = TotalsOf(summary.items);
    QJsonObject object{
        {"controller", QString::fromLatin1(summary.controller)},
        {"replies", totals.replies},
        {"resends", totals.resends},
        {"after_resend", totals.afterResend},
        {"unsolicited", summary.unsolicited},
        {"out_of_step", summary.outOfStep},
        {"late", summary.late},
        {"cycles", summary.passes},
        {"rtt_ms", RoundTripsJson(totals.rttMs)},
        {"slowest_ms", totals.rttMs.Count() == 0 ? QJsonValue() : Rounded(totals.slowestMs)},
        {"items", ItemsJson(summary.items)},
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
    return CompactJson(QJsonObject{{"summary", object}});
}

QByteArrayList SummaryText(const TRunSummary& summary, int labelWidth) {
    const TTotals totals = TotalsOf(summary.items);
    QByteArrayList lines{CountsText(summary, totals),
                         "round trip ms: " + RoundTripsText(totals.rttMs)};
    lines += ItemRows(summary.items, labelWidth);
    lines += SummaryNotes(summary, totals);
    for (const QByteArray& line : summary.unanswered)
        lines.append(EscapedLine(line).toUtf8());
    lines += OutageLines(summary.connection);
    return lines;
}

QByteArrayList BriefSummaryText(const TRunSummary& summary) {
    const TTotals totals = TotalsOf(summary.items);
    QByteArrayList lines{
        summary.controller + ": " + CountsText(summary, totals) + "; round trip ms " +
        RoundTripsText(totals.rttMs) + "; status " + QByteArray::number(summary.exitStatus) +
        (summary.reason.isEmpty() ? QByteArray() : ": " + EscapedLine(summary.reason).toUtf8())};
    for (const QByteArray& line : summary.unanswered)
        lines.append(summary.controller + ": " + EscapedLine(line).toUtf8());
    return lines;
}

QByteArray TotalsJson(const QList<TRunSummary>& failed, int controllers, qint64 replies,
                      qint64 resends, int exitStatus) {
    QJsonArray failures;
    for (const TRunSummary& summary : failed)
        failures.append(QJsonObject{{"controller", QString::fromLatin1(summary.controller)},
                                    {"exit_status", summary.exitStatus},
                                    {"reason", EscapedLine(summary.reason)}});
    return CompactJson({{"totals", QJsonObject{
                                       {"controllers", controllers},
                                       {"failed", failures},
                                       {"replies", replies},
                                       {"resends", resends},
                                       {"exit_status", exitStatus},
                                   }}});
}

QByteArrayList TotalsText(const QList<TRunSummary>& failed, int controllers, qint64 replies,
                          qint64 resends, int exitStatus) {
    QByteArrayList lines{Counted(controllers, "controller", "controllers") + ": " +
                         QByteArray::number(controllers - failed.size()) + " passed, " +
                         QByteArray::number(failed.size()) + " failed; " +
                         Counted(replies, "reply", "replies") + ", " +
                         Counted(resends, "resend", "resends") + "; status " +
                         QByteArray::number(exitStatus)};
    for (const TRunSummary& summary : failed)
        lines.append("failed: " + summary.controller + " (status " +
                     QByteArray::number(summary.exitStatus) +
                     (summary.reason.isEmpty() ? QByteArray(")")
                                               : "): " + EscapedLine(summary.reason).toUtf8()));
    return lines;
}
