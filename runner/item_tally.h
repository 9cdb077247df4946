#pragma once

#include "runner/run_definition.h"
#include "sequencing/reply_record.h"

#include <QByteArrayList>

#include <optional>
#include <vector>

// What one item got over a run.
struct TItemTally {
    TRunItem item;
    int replies = 0;
    int resends = 0;
    int afterResend = 0; // replies that completed after a resend
    int passed = 0;      // replies that passed their check
    int failed = 0;      // replies that failed it
    std::vector<double> rttMs;
    std::optional<TReplyRecord> last;
    // Why cycles failed, a line each: the first kMaxFailureTexts of them.
    QByteArrayList failures;
    int failureCount = 0;
    static constexpr int kMaxFailureTexts = 100;

    void AddReply(const TReplyRecord& record);
    void AddFailure(const QByteArray& text);
};
