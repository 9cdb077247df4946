#pragma once

#include "sequencing/cycle_rules.h"
#include "sequencing/reply_record.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QElapsedTimer>
#include <QList>

// Which command the bytes from the controller answer: the reply to the
// command awaiting its reply, a late answer to an earlier sending of the
// command answered last, or data nobody asked for. It holds the awaited
// command (its slot, its first sending, its resends), the pass, and drives
// the cycle's rules; the driver owns the timers and the connection and calls
// Send at every send tick and Received with every piece it takes.
class TReplyMatcher {
public:
    enum class TPolicy {
        // The window's: every send tick empties the reply being gathered and
        // sends the current slot's command, a resend as any other; whatever
        // completes is the current slot's reply, awaited or not.
        ByArrival,
        // The runner's: one reply for each sending, in order. A resend keeps
        // what was gathered. What completes (ends in "]") is cut after every
        // "]", each part an answer: the awaited reply, then, after a reply
        // that needed N resends, up to N late answers to those sendings. Any
        // other end of a reply after the first command went out puts the
        // stream out of step. Bytes before the first command (a greeting)
        // are unsolicited and nothing more.
        Strict,
    };
    explicit TReplyMatcher(TPolicy policy) : m_policy(policy) {}

    // The cycle's rules and state; the driver sets CommandOf and ItemCount.
    TCycleRules Cycle;

    struct TSend {
        TCycleRules::TSendAction action = TCycleRules::TSendAction::None;
        int slot = 0;
        QByteArray command; // to hand to the connection when action is Send
        bool resend = false;
        bool passEnded = false; // Skip: the step wrapped, a pass ended
    };
    // A send tick: what goes out now.
    TSend Send();

    enum class TKind {
        Nothing,    // nothing complete to report (yet)
        Reply,      // the awaited command's reply
        Late,       // a late answer to a resent command already answered
        Unsolicited // data no command awaited
    };
    struct TReceived {
        TKind kind = TKind::Nothing;
        // Reply and Late: time, pass, slot, command, reply, rtt_ms (from the
        // first sending), resends and late; the label and the verdict are the
        // driver's. Unsolicited: time, pass (the current one) and the piece
        // as reply.
        TReplyRecord record;
        // Unsolicited: the data ends a reply after the first command went
        // out, so the stream is out of step.
        bool outOfStep = false;
        // Out of step: the slot whose reply it may have displaced, the one
        // answered last (0 when none was).
        int displaces = 0;
        // Reply: the step wrapped, a pass ended.
        bool passEnded = false;
    };
    // A piece taken from the connection: what it completes, in order (by
    // arrival at most one reply). An empty piece changes nothing. The list is
    // the matcher's own, refilled by the next call: one allocation serves
    // every reply.
    QList<TReceived>& Received(const QByteArray& piece);

    // The awaited command is awaited no more: the next sending is a first one.
    void Abandon() { m_awaiting = false; }
    // The connection went: nothing sent on it will be answered, and what
    // comes first on the next one is a greeting again. The step stays, so
    // the cycle resumes at the item it was on.
    void ConnectionLost();

    bool Awaiting() const { return m_awaiting; }
    int AwaitedSlot() const { return m_slot; }
    // Sendings of the awaited command after its first.
    int Resends() const { return m_resends; }
    // Late answers the command answered last may still get (Strict).
    int LateExpected() const { return m_lateExpected; }
    // How long the line should stay quiet after the latest answer before the
    // driver moves on (Strict). While late answers may come: the round trip
    // of the reply they follow and a reply timeout, as a controller that
    // answers every sending answers a resend a resend period after the reply
    // and one that answers a command at a time a round trip after it.
    // Otherwise the longest round trip so far and two send delays: a stream
    // shifted by a reply (a greeting taken for one) shows the reply left over
    // by then.
    int QuietMs(int replyTimeoutMs) const;
    // The quiet after the longest round trip, when no late answer may come.
    static constexpr int kSettleMs = 2 * kSendDelayMs;
    // The pass under way, from 1: one more each time the step wraps to 1.
    int Pass() const { return m_pass; }

    // The awaited command as a run that ends now leaves it, for an operator
    // to see why its reply never completed: when it was sent and resent,
    // how many bytes came and how they end, and the last kShownGathered of
    // them, a line each. Raw bytes, for each output to escape.
    QByteArrayList Unanswered() const;
    static constexpr qsizetype kShownGathered = 256;

private:
    // What the piece completes of the awaited reply or of a late answer;
    // empty while that is incomplete.
    QByteArray Completed(const QByteArray& piece);
    // One answer cut from what a piece completed: the awaited reply, a late
    // answer, or out of step.
    TReceived AnswerOf(const QByteArray& answer);
    TReceived Reply(int slot, const QByteArray& text);
    TReplyRecord RecordOf(int slot, int pass, const QByteArray& reply) const;
    // After the step moved on: counts a pass when it wrapped.
    bool StepAdvanced();

    const TPolicy m_policy;
    QList<TReceived> m_answers; // what the latest piece completed
    QElapsedTimer m_sentClock;  // since the awaited command first went out
    bool m_awaiting = false;    // a command went out, its reply has not completed
    int m_slot = 0;             // the awaited command's
    int m_resends = 0;
    int m_pass = 1;
    // The command answered last: its slot, pass and resends, and the late
    // answers it may still get.
    int m_lastSlot = 0;
    int m_lastPass = 0;
    int m_lastResends = 0;
    int m_lateExpected = 0;
    double m_lastRttMs = 0;
    double m_longestRttMs = 0;
};
