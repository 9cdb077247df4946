#pragma once

#include "base/rtt_histogram.h"
#include "runner/junit_report.h"
#include "runner/run_definition.h"
#include "sequencing/reply_record.h"

#include <QByteArrayList>

#include <optional>

// What one item got over a run.
struct TItemTally {
    TRunItem item;
    qint64 replies = 0;
    qint64 resends = 0;
    qint64 afterResend = 0; // replies that completed after a resend
    qint64 passed = 0;      // replies that passed their check
    qint64 failed = 0;      // replies that failed it
    TRttHistogram rtt;
    std::optional<TReplyRecord> last;
    // Why passes failed, a line each, bytes as they came (each report
    // escapes them): the first kMaxFailureTexts of them.
    QByteArrayList failures;
    qint64 failureCount = 0;
    static constexpr int kMaxFailureTexts = 100;

    // Counts a reply, and fails its pass when it failed its check or
    // needed more than maxResends resends.
    void AddReply(const TReplyRecord& record, int maxResends);
    void AddFailure(const QByteArray& text);
    // Fails the pass of the last reply, if any: bytes holding a reply no
    // command awaited came after slot `after` was answered, so that reply
    // may answer another command.
    void AddOutOfStep(const QByteArray& bytes, int after);
};

// Where a run stopped before it completed, and why.
struct TRunEnd {
    int failingSlot = 0;    // the item the run stopped at; 0: none
    bool failed = false;    // its command went unanswered: a failure, not an error of the run
    QByteArray message;     // why the run stopped; empty: interrupted
    QByteArrayList details; // what became of the item's command, a line each
};

// The test case of one item once the run has ended.
TCaseResult CaseOf(const TItemTally& tally, const TRunEnd& end);
