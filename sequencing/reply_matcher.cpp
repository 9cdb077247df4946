#include "sequencing/reply_matcher.h"

#include "base/text.h"

#include <QDateTime>

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

TReplyMatcher::TReceived TReplyMatcher::Received(const QByteArray& piece) {
    if (piece.isEmpty())
        return {};
    if (m_policy == TPolicy::ByArrival || m_awaiting) {
        const TCycleRules::TReply reply = Cycle.Received(piece);
        return reply.complete ? Reply(reply) : TReceived{};
    }
    return Unexpected(piece);
}

TReplyMatcher::TReceived TReplyMatcher::Reply(const TCycleRules::TReply& reply) {
    TReceived received{TKind::Reply, RecordOf(reply.slot, m_pass, reply.text), false, 0, false};
    received.record.resends = m_resends;
    m_lastSlot = reply.slot;
    m_lastPass = m_pass;
    m_lastResends = m_resends;
    if (m_policy == TPolicy::Strict) {
        m_lateExpected = m_resends;
        // What follows starts a reply of its own.
        Cycle.ReceiveBuffer.Clear();
    }
    m_awaiting = false;
    m_resends = 0;
    received.passEnded = StepAdvanced();
    return received;
}

TReplyMatcher::TReceived TReplyMatcher::Unexpected(const QByteArray& piece) {
    // Before the first command nothing can be out of step: a greeting.
    if (!m_sentClock.isValid())
        return {TKind::Unsolicited, RecordOf(0, m_pass, piece), false, 0, false};
    TReceiveBuffer& buffer = Cycle.ReceiveBuffer;
    buffer.Append(piece);
    if (m_lateExpected > 0) {
        if (!buffer.IsComplete())
            return {};
        --m_lateExpected;
        TReceived late{TKind::Late, RecordOf(m_lastSlot, m_lastPass, buffer.Text()), false, 0,
                       false};
        late.record.resends = m_lastResends;
        late.record.late = true;
        buffer.Clear();
        return late;
    }
    TReceived data{TKind::Unsolicited, RecordOf(0, m_pass, piece), buffer.IsComplete(), 0, false};
    if (data.outOfStep) {
        data.displaces = m_lastSlot;
        buffer.Clear();
    }
    return data;
}

TReplyRecord TReplyMatcher::RecordOf(int slot, int cycle, const QByteArray& reply) const {
    // A reply before any send answers no command: it has no round trip.
    const double rttMs = m_sentClock.isValid() ? double(m_sentClock.nsecsElapsed()) / 1e6 : 0;
    return {QDateTime::currentDateTimeUtc(),
            cycle,
            slot,
            {},
            slot > 0 ? Cycle.CommandOf(slot) : QByteArray(),
            reply,
            rttMs,
            0,
            false,
            {}};
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
