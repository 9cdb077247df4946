#include "sequencing/reply_matcher.h"

#include "base/text.h"

#include <QDateTime>

#include <algorithm>

#include <utility>

TReplyMatcher::TSend TReplyMatcher::Send() {
    if (m_policy == TPolicy::Strict && m_awaiting) {
        // The watchdog ran out: the same command again. What has come of the
        // reply so far stays, so a reply slower than the watchdog completes.
        ++m_resends;
        return {TCycleRules::TSendAction::Send, m_slot, Cycle.CommandOf(m_slot), true, false};
    }
    const TCycleRules::TSend send = Cycle.SendTick();
    TSend result{send.action, send.slot, send.command, false, false};
    if (send.action == TCycleRules::TSendAction::Skip) {
        result.passEnded = StepAdvanced();
    } else if (send.action == TCycleRules::TSendAction::Send) {
        // By arrival the step moves on only with a reply: until then, each
        // send is the watchdog's repeat of the same command.
        result.resend = m_awaiting;
        m_resends = m_awaiting ? m_resends + 1 : 0;
        if (!std::exchange(m_awaiting, true))
            m_sentClock.start();
        m_slot = send.slot;
    }
    return result;
}

void TReplyMatcher::ConnectionLost() {
    m_awaiting = false;
    m_resends = 0;
    m_lateExpected = 0;
    m_sentClock.invalidate();
    Cycle.ReceiveBuffer.Clear();
}

QList<TReplyMatcher::TReceived>& TReplyMatcher::Received(const QByteArray& piece) {
    m_answers.clear();
    if (piece.isEmpty())
        return m_answers;
    if (m_policy == TPolicy::ByArrival) {
        const TCycleRules::TReply reply = Cycle.Received(piece);
        if (reply.complete)
            m_answers.append(Reply(reply.slot, reply.text));
        return m_answers;
    }
    // Nothing awaited: reported as it comes, out of step once it holds the
    // end of a reply. Before the first command that is only a greeting.
    if (!m_awaiting && m_lateExpected == 0) {
        const bool outOfStep = m_sentClock.isValid() && piece.contains(']');
        m_answers.append({TKind::Unsolicited, RecordOf(0, m_pass, piece), outOfStep,
                          outOfStep ? m_lastSlot : 0, false});
        return m_answers;
    }
    const QByteArray text = Completed(piece);
    // Every "]" ends a reply: what one piece completes may answer several
    // sendings, in order.
    for (qsizetype start = 0, end; (end = text.indexOf(']', start)) >= 0; start = end + 1)
        m_answers.append(AnswerOf(text.mid(start, end + 1 - start)));
    return m_answers;
}

QByteArray TReplyMatcher::Completed(const QByteArray& piece) {
    TReceiveBuffer& buffer = Cycle.ReceiveBuffer;
    QByteArray text;
    if (m_awaiting) {
        // The step moves on with the reply.
        text = Cycle.Received(piece).text;
    } else {
        buffer.Append(piece);
        text = buffer.IsComplete() ? buffer.Text() : QByteArray();
    }
    if (!text.isEmpty())
        buffer.Clear();
    return text;
}

TReplyMatcher::TReceived TReplyMatcher::AnswerOf(const QByteArray& answer) {
    if (m_awaiting)
        return Reply(m_slot, answer);
    if (m_lateExpected == 0)
        return {TKind::Unsolicited, RecordOf(0, m_pass, answer), true, m_lastSlot, false};
    --m_lateExpected;
    TReceived late{TKind::Late, RecordOf(m_lastSlot, m_lastPass, answer), false, 0, false};
    late.record.resends = m_lastResends;
    late.record.late = true;
    return late;
}

TReplyMatcher::TReceived TReplyMatcher::Reply(int slot, const QByteArray& text) {
    TReceived received{TKind::Reply, RecordOf(slot, m_pass, text), false, 0, false};
    received.record.resends = m_resends;
    m_lastSlot = slot;
    m_lastPass = m_pass;
    m_lastResends = m_resends;
    m_lastRttMs = received.record.rttMs;
    m_longestRttMs = std::max(m_longestRttMs, m_lastRttMs);
    m_lateExpected = m_policy == TPolicy::Strict ? m_resends : 0;
    m_awaiting = false;
    m_resends = 0;
    received.passEnded = StepAdvanced();
    return received;
}

TReplyRecord TReplyMatcher::RecordOf(int slot, int pass, const QByteArray& reply) const {
    // A reply before any send answers no command: it has no round trip.
    const double rttMs = m_sentClock.isValid() ? double(m_sentClock.nsecsElapsed()) / 1e6 : 0;
    return {QDateTime::currentDateTimeUtc(),
            pass,
            slot,
            {},
            slot > 0 ? Cycle.CommandOf(slot) : QByteArray(),
            reply,
            rttMs,
            0,
            false,
            {}};
}

int TReplyMatcher::QuietMs(int replyTimeoutMs) const {
    return m_lateExpected > 0 ? int(m_lastRttMs) + replyTimeoutMs : int(m_longestRttMs) + kSettleMs;
}

bool TReplyMatcher::StepAdvanced() {
    if (Cycle.TestStep != 1)
        return false;
    ++m_pass;
    return true;
}

QByteArrayList TReplyMatcher::Unanswered() const {
    QByteArrayList lines{
        "sent in cycle " + QByteArray::number(m_pass) +
        (m_resends > 0 ? ", resent " + Counted(m_resends, "time", "times") + "," : "") +
        " and not answered when the run ended"};
    const TReceiveBuffer& buffer = Cycle.ReceiveBuffer;
    const qsizetype size = buffer.ReceivedSize();
    if (size == 0)
        return lines << "nothing gathered";
    const QByteArray kept = buffer.Text().right(kShownGathered);
    // The end that kept the reply open, from its last "]" when that is near.
    QByteArray tail = kept.right(8);
    if (const qsizetype bracket = tail.lastIndexOf(']'); bracket >= 0)
        tail.remove(0, bracket);
    return lines << Counted(size, "byte", "bytes") + " gathered, ending in '" + tail +
                        "': a reply ends in ']'"
                 << (size > kShownGathered
                         ? "the last " + QByteArray::number(kShownGathered) + " of them: "
                         : QByteArray("gathered: ")) +
                        kept;
}
