#include "runner/controller_run.h"

#include "base/convert.h"
#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

QByteArray SecondsText(int ms) {
    return QByteArray::number(double(ms) / 1000, 'g', 6) + " s";
}

QByteArray MillisecondsText(double ms) {
    return QByteArray::number(ms, 'f', 1) + " ms";
}

} // namespace

TControllerRun::TControllerRun(TRunDefinition definition, const TRunOptions& options,
                               const TReplyChecks& checks, TTimerQueue& timers, TRunOutput& output,
                               bool brief)
    : m_definition(std::move(definition)), m_options(options), m_checks(checks),
      m_controller(m_definition.address + ':' + m_definition.port), m_output(output),
      m_brief(brief), m_socket(std::make_unique<TClientSocket>(nullptr)),
      m_sendTimer(timers, Handler(&TControllerRun::SendTick)),
      m_watchdog(timers, Handler(&TControllerRun::WatchdogTick)),
      m_giveUp(timers, Handler(&TControllerRun::GiveUp)),
      m_tallies(size_t(m_definition.items.size()) + 1) {
    m_cycle.CommandOf = [this](int slot) { return m_definition.Item(slot).command; };
    m_cycle.ItemCount = [this] { return m_definition.itemCount; };
    for (const TRunItem& item : m_definition.items)
        m_tallies[size_t(item.slot)].item = item;

    m_socket->OnConnect = TSocketNotifyEvent(this, &TControllerRun::SocketConnect);
    m_socket->OnDisconnect = TSocketNotifyEvent(this, &TControllerRun::SocketDisconnect);
    m_socket->OnError = TSocketErrorEvent(this, &TControllerRun::SocketError);
    m_socket->OnRead = TSocketNotifyEvent(this, &TControllerRun::SocketRead);

    // Restarted when dialling starts; set here for a run stopped before.
    m_started = QDateTime::currentDateTimeUtc();
    m_clock.start();
}

TControllerRun::~TControllerRun() = default;

void TControllerRun::Handle(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const Exception& error) {
        Finish(kRunConnection, ConnectionMessage(ErrorDisplayText(error.Message()), "failed"));
    }
}

std::function<void()> TControllerRun::Handler(void (TControllerRun::*handler)()) {
    return [this, handler] { Guarded([&] { Handle([&] { (this->*handler)(); }); }); };
}

void TControllerRun::ArmSend() {
    if (m_sendTimer.IsActive())
        return;
    qint64 delayMs = kSendDelayMs;
    if (m_options.intervalMs > 0 && !m_awaitingReply && m_cycle.TestStep == 1 && m_passStartNs >= 0)
        delayMs = std::max<qint64>(delayMs, m_options.intervalMs -
                                                (m_clock.nsecsElapsed() - m_passStartNs) / 1000000);
    m_sendTimer.Start(int(delayMs));
}

void TControllerRun::Start() {
    m_started = QDateTime::currentDateTimeUtc();
    m_clock.start();
    m_giveUp.Start(m_options.timeoutMs);
    Handle([this] {
        m_socket->SetPort(StrToPort(m_definition.port));
        m_socket->SetAddress(m_definition.address);
        m_socket->SetActive(true);
    });
}

void TControllerRun::Interrupt(int status) {
    Finish(status);
}

QByteArray TControllerRun::ConnectionMessage(const QByteArray& text,
                                             const QByteArray& reason) const {
    return text + " (" + m_controller + ": " + reason + ")";
}

void TControllerRun::SocketConnect(QObject*, TCustomWinSocket*) {
    m_everConnected = true;
    // As Start Test does: the first command goes out one send delay later.
    ArmSend();
    EndAttempt();
}

void TControllerRun::EndAttempt() {
    if (!std::exchange(m_attemptOver, true) && AttemptEnded)
        AttemptEnded();
}

void TControllerRun::SocketDisconnect(QObject*, TCustomWinSocket*) {
    if (!m_finishing)
        Finish(kRunConnection, ConnectionMessage("Disconnected from " + m_definition.address,
                                                 "closed by the peer"));
}

void TControllerRun::SocketError(QObject*, TCustomWinSocket*, TErrorEvent, int& code) {
    // Reported here with the controller and the reason, so the component
    // raises nothing of its own.
    const int error = std::exchange(code, 0);
    if (!m_finishing)
        Finish(kRunConnection, ConnectionMessage(ErrorDisplayText("Asynchronous socket error " +
                                                                  QByteArray::number(error)),
                                                 std::strerror(error)));
}

void TControllerRun::SendTick() {
    // A fresh full watchdog interval from this send.
    m_watchdog.Start(m_options.replyTimeoutMs);
    if (m_awaitingReply) {
        // The watchdog ran out: the same command again. What has come of the
        // reply so far stays, so a reply slower than the watchdog completes.
        ++m_resends;
        m_socket->WinSocket()->SendString(m_cycle.CommandOf(m_sentSlot));
        return;
    }
    if (m_cycle.TestStep == 1)
        m_passStartNs = m_clock.nsecsElapsed();
    const TCycleRules::TSend send = m_cycle.SendTick();
    if (send.action == TCycleRules::TSendAction::Skip) {
        StepAdvanced();
        if (!m_finishing)
            ArmSend();
        return;
    }
    if (send.action != TCycleRules::TSendAction::Send)
        return;
    // The wait for an answer starts with each command.
    m_giveUp.Start(m_options.timeoutMs);
    m_awaitingReply = true;
    m_sentSlot = send.slot;
    m_firstSentNs = m_clock.nsecsElapsed();
    m_resends = 0;
    m_socket->WinSocket()->SendString(send.command);
}

void TControllerRun::WatchdogTick() {
    ArmSend();
}

void TControllerRun::SocketRead(QObject*, TCustomWinSocket* socket) {
    Handle([&] {
        const QByteArray bytes = socket->ReceiveString();
        if (m_finishing || bytes.isEmpty())
            return;
        if (!m_awaitingReply)
            return RecordUnsolicited(bytes);
        const TCycleRules::TReply reply = m_cycle.Received(bytes);
        if (!reply.complete)
            return;
        // Nothing awaits an answer until the next command, however long
        // --interval holds it back.
        m_giveUp.Stop();
        RecordReply(reply);
        StepAdvanced();
        if (!m_finishing)
            ArmSend();
    });
}

void TControllerRun::RecordReply(const TCycleRules::TReply& reply) {
    const TRunItem item = m_definition.Item(reply.slot);
    TReplyRecord record{QDateTime::currentDateTimeUtc(),
                        m_passes + 1,
                        reply.slot,
                        item.label,
                        item.command,
                        reply.text,
                        double(m_clock.nsecsElapsed() - m_firstSentNs) / 1e6,
                        m_resends,
                        {}};
    record.verdict = m_checks.Judge(item.label, reply.text, record.rttMs);
    m_awaitingReply = false;
    TItemTally& tally = m_tallies[size_t(reply.slot)];
    tally.AddReply(record);
    if (record.verdict.outcome == TVerdict::TOutcome::Fail)
        tally.AddFailure("cycle " + QByteArray::number(record.cycle) + ": " +
                         EscapedText(record.reply, true).toUtf8() + ": " +
                         EscapedText(record.verdict.why, true).toUtf8());
    if (record.resends > m_options.maxResends)
        tally.AddFailure("cycle " + QByteArray::number(record.cycle) + ": answered after " +
                         Counted(record.resends, "resend", "resends") + ", " +
                         MillisecondsText(record.rttMs) +
                         " after the first sending: " + EscapedText(record.reply, true).toUtf8());
    m_output.Reply(m_controller, record);
    CheckOutput();
}

void TControllerRun::RecordUnsolicited(const QByteArray& bytes) {
    ++m_unsolicited;
    m_output.Unsolicited(m_controller, {QDateTime::currentDateTimeUtc(), m_passes + 1,
                                        bytes.left(TUnsolicited::kShownBytes), bytes.size()});
    CheckOutput();
}

void TControllerRun::CheckOutput() {
    if (m_output.Closed())
        Finish(kRunOutputClosed, "Standard output closed: the run stopped");
}

void TControllerRun::StepAdvanced() {
    if (m_cycle.TestStep != 1)
        return;
    ++m_passes;
    if (m_options.cycles > 0 && m_passes >= m_options.cycles)
        Finish(kRunCompleted);
}

void TControllerRun::GiveUp() {
    if (!m_everConnected) {
        Finish(kRunConnection, ErrorDisplayText("Could not connect to " + m_controller +
                                                " within " + SecondsText(m_options.timeoutMs)));
        return;
    }
    const TRunItem item = m_definition.Item(m_cycle.TestStep);
    Finish(kRunNoReply,
           ErrorDisplayText("No complete reply for " + SecondsText(m_options.timeoutMs) +
                            ": gave up waiting on slot " + QByteArray::number(item.slot) + " (" +
                            EscapedText(item.label, true).toUtf8() + ")"));
}

void TControllerRun::Finish(int status, QByteArray message) {
    if (m_finishing)
        return;
    m_finishing = true;
    for (TTimerQueue::TTimer* timer : {&m_sendTimer, &m_watchdog, &m_giveUp})
        timer->Stop();
    if (status == kRunCompleted && !m_everConnected) {
        status = kRunConnection;
        message =
            ErrorDisplayText("Could not connect to " + m_controller + " before the run ended");
    }
    const int pending = m_awaitingReply ? m_sentSlot : m_cycle.TestStep;
    if (status == kRunCompleted) {
        // A command resent more often than accepted fails even when the run
        // ended before its reply could come.
        if (m_awaitingReply && m_resends > m_options.maxResends)
            m_tallies[size_t(m_sentSlot)].AddFailure(
                "cycle " + QByteArray::number(m_passes + 1) + ": no reply after " +
                Counted(m_resends, "resend", "resends") + " when the run ended");
        const auto any = [this](auto failed) {
            return std::any_of(m_tallies.begin(), m_tallies.end(), failed);
        };
        if (any([](const TItemTally& t) { return t.failed > 0; }))
            status = kRunCheckFailed;
        else if (any([](const TItemTally& t) { return t.failureCount > 0; }))
            status = kRunResends;
    } else if (pending >= 1 && pending <= kSlotCount) {
        m_failingSlot = pending;
    }
    m_status = status;
    m_endMessage = message;
    // One of many controllers says which it is.
    if (!message.isEmpty())
        WriteLine(stderr, m_brief ? m_controller + ": " + message : message);
    // Not inside the notification or tick that ended the run: the socket is
    // closed from the loop.
    QTimer::singleShot(0, this, [this] { Guarded([this] { Conclude(); }); });
    EndAttempt();
}

void TControllerRun::Conclude() {
    m_socket->SetActive(false);
    m_socket.reset();
    // Before a connection there is no item the run stopped at.
    TRunSummary summary{
        m_controller, m_passes, m_unsolicited, m_status, m_everConnected ? m_failingSlot : 0,
        {},           {}};
    if (m_status == kRunInterrupted)
        summary.reason = "interrupted";
    else if (m_status != kRunCompleted && m_status != kRunResends)
        summary.reason = m_endMessage;
    for (const TRunItem& item : m_definition.items)
        summary.items.append(m_tallies[size_t(item.slot)]);
    m_output.Summary(summary, m_brief);
    if (Finished)
        Finished(summary);
}

TCaseResult TControllerRun::CaseOf(const TItemTally& tally) const {
    using TKind = TCaseResult::TKind;
    const TRunItem& item = tally.item;
    TCaseResult result{item, TKind::Passed, {}, tally.failures, tally.last};
    if (tally.failureCount > tally.failures.size())
        result.details.append(
            "and " + QByteArray::number(tally.failureCount - tally.failures.size()) + " more");
    if (item.slot == m_failingSlot) {
        const QByteArray when =
            m_awaitingReply
                ? "sent in cycle " + QByteArray::number(m_passes + 1) +
                      " and not answered when the run ended"
                : "the run ended before its turn in cycle " + QByteArray::number(m_passes + 1);
        result.kind = m_status == kRunNoReply ? TKind::Failed : TKind::Error;
        result.message = m_endMessage.isEmpty() ? "interrupted" : m_endMessage;
        result.details.append(when);
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

TSuiteResult TControllerRun::SuiteResult(const QString& name) const {
    TSuiteResult suite{name, m_started, double(m_clock.elapsed()) / 1000, {}};
    for (const TRunItem& item : m_definition.items)
        suite.cases.append(CaseOf(m_tallies[size_t(item.slot)]));
    return suite;
}
