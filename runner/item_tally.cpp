#include "runner/item_tally.h"

#include "base/text.h"

namespace {

QByteArray MillisecondsText(double ms) {
    return QByteArray::number(ms, 'f', 1) + " ms";
}

} // namespace

void TItemTally::AddReply(const TReplyRecord& record, int maxResends) {
    ++replies;
    resends += record.resends;
    afterResend += record.AfterResend() ? 1 : 0;
    passed += record.verdict.outcome == TVerdict::TOutcome::Pass ? 1 : 0;
    failed += record.verdict.outcome == TVerdict::TOutcome::Fail ? 1 : 0;
    rtt.Add(record.rttMs);
    last = record;
    const bool checkFailed = record.verdict.outcome == TVerdict::TOutcome::Fail;
    if (!checkFailed && record.resends <= maxResends)
        return;
    const QByteArray pass = "cycle " + QByteArray::number(record.pass) + ": ";
    if (checkFailed)
        AddFailure(pass + record.reply + ": " + record.verdict.why);
    if (record.resends > maxResends)
        AddFailure(pass + "answered after " + Counted(record.resends, "resend", "resends") + ", " +
                   MillisecondsText(record.rttMs) + " after the first sending: " + record.reply);
}

void TItemTally::AddFailure(const QByteArray& text) {
    if (++failureCount <= kMaxFailureTexts)
        failures.append(text);
}

void TItemTally::AddOutOfStep(const QByteArray& bytes, int after) {
    if (last)
        AddFailure("cycle " + QByteArray::number(last->pass) + ": out of step: '" + bytes +
                   "' came after slot " + QByteArray::number(after) +
                   " was answered, while no command awaited a reply; this item's reply '" +
                   last->reply + "' may answer another command");
}

TCaseResult CaseOf(const TItemTally& tally, const TRunEnd& end) {
    using TKind = TCaseResult::TKind;
    const TRunItem& item = tally.item;
    TCaseResult result{item, TKind::Passed, {}, tally.failures, tally.last};
    if (tally.failureCount > tally.failures.size())
        result.details.append(
            "and " + QByteArray::number(tally.failureCount - tally.failures.size()) + " more");
    if (item.slot == end.failingSlot) {
        result.kind = end.failed ? TKind::Failed : TKind::Error;
        result.message = end.message.isEmpty() ? "interrupted" : end.message;
        result.details += end.details;
    } else if (tally.failureCount > 0) {
        result.kind = TKind::Failed;
        result.message = Counted(tally.failureCount, "failing cycle", "failing cycles") + ", " +
                         tally.failures.constFirst();
    } else if (item.command.isEmpty()) {
        result = {item, TKind::Skipped, "empty command", {}, {}};
    } else if (!tally.last) {
        result = {item, TKind::Skipped, "not reached", {}, {}};
    }
    return result;
}
