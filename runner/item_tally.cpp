#include "runner/item_tally.h"

void TItemTally::AddReply(const TReplyRecord& record) {
    ++replies;
    resends += record.resends;
    afterResend += record.AfterResend() ? 1 : 0;
    passed += record.verdict.outcome == TVerdict::TOutcome::Pass ? 1 : 0;
    failed += record.verdict.outcome == TVerdict::TOutcome::Fail ? 1 : 0;
    rttMs.push_back(record.rttMs);
    last = record;
}

void TItemTally::AddFailure(const QByteArray& text) {
    if (++failureCount <= kMaxFailureTexts)
        failures.append(text);
}
