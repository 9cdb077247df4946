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
    if (m_options.intervalMs > 0 && !m_replies.Awaiting() && m_cycle.TestStep == 1 &&
        m_passStartNs >= 0)
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

void TControllerRun::SocketConnect(QObject*, TCustomWinSocket*) {
    m_everConnected = true;
    Feed.Connected();
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
    if (!m_replies.Awaiting() && m_cycle.TestStep == 1)
        m_passStartNs = m_clock.nsecsElapsed();
    const TReplyMatcher::TSend send = m_replies.Send();
    if (send.action == TCycleRules::TSendAction::Skip) {
        StepAdvanced(send.passEnded, false);
        return;
    }
    if (send.action != TCycleRules::TSendAction::Send)
        return;
    // The wait for an answer starts with each command.
    if (!send.resend)
        m_giveUp.Start(m_options.timeoutMs);
    m_socket->WinSocket()->SendString(send.command);
}

void TControllerRun::SocketRead(QObject*, TCustomWinSocket* socket) {
    Handle([&] {
        const QByteArray bytes = socket->ReceiveString();
        // All they hold is reported before the last pass may end the run.
        bool passEnded = false;
        bool answered = false;
        for (const TReplyMatcher::TReceived& received : m_replies.Received(bytes)) {
            if (m_finishing)
                return;
            if (received.kind == TReplyMatcher::TKind::Unsolicited) {
                RecordUnsolicited(received);
                continue;
            }
            RecordReply(received.record);
            passEnded = passEnded || received.passEnded;
            answered = true;
        }
        if (answered && !m_finishing)
            StepAdvanced(passEnded, true);
    });
}

void TControllerRun::RecordReply(TReplyRecord record) {
    record.label = m_definition.Item(record.slot).label;
    if (record.late) {
        ++m_summary.late;
    } else {
        // Nothing awaits an answer until the next command, however long
        // --interval holds it back.
        m_giveUp.Stop();
        record.verdict = m_checks.Judge(record.label, record.reply, record.rttMs);
        m_tallies[size_t(record.slot)].AddReply(record, m_options.maxResends);
    }
    Feed.Reply(record);
    m_output.Reply(m_controller, record);
    CheckOutput();
}

void TControllerRun::RecordUnsolicited(const TReplyMatcher::TReceived& received) {
    const QByteArray& bytes = received.record.reply;
    ++m_summary.unsolicited;
    m_summary.outOfStep += received.outOfStep ? 1 : 0;
    Feed.Unsolicited(bytes.size());
    m_output.Unsolicited(m_controller,
                         {received.record.time, received.record.cycle,
                          bytes.left(TUnsolicited::kShownBytes), bytes.size(), received.outOfStep});
    CheckOutput();
    if (!received.outOfStep || m_options.allowUnsolicited || m_finishing)
        return;
    const TRunItem item = m_definition.Item(received.displaces);
    // Any reply of the run may be one of a shifted stream.
    for (TItemTally& tally : m_tallies)
        tally.AddOutOfStep(bytes, received.displaces);
    Finish(kRunOutOfStep, "Replies out of step: a reply came after slot " +
                              QByteArray::number(item.slot) + " (" + item.label +
                              ") was answered, while no command awaited one");
}

void TControllerRun::CheckOutput() {
    if (m_output.Closed())
        Finish(kRunOutputClosed, "Standard output closed: the run stopped");
}

void TControllerRun::StepAdvanced(bool passEnded, bool answered) {
    m_lastPassEnded = m_lastPassEnded ||
                      (passEnded && m_options.cycles > 0 && m_replies.Pass() > m_options.cycles);
    if (m_lastPassEnded || (answered && m_replies.LateExpected() > 0))
        m_watchdog.Start(m_replies.QuietMs(m_options.replyTimeoutMs));
    else
        ArmSend();
}

void TControllerRun::WatchdogTick() {
    if (m_lastPassEnded)
        Finish(kRunCompleted);
    else
        ArmSend();
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
                            item.label + ")"));
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
    const bool awaiting = m_replies.Awaiting();
    const int pending = awaiting ? m_replies.AwaitedSlot() : m_cycle.TestStep;
    const int resends = m_replies.Resends();
    // The resends went out however the run ends.
    if (awaiting)
        m_tallies[size_t(pending)].resends += resends;
    const QByteArray cycle = QByteArray::number(m_replies.Pass());
    if (status == kRunCompleted) {
        // A command resent more often than accepted fails even when the run
        // ended before its reply could come.
        if (awaiting && resends > m_options.maxResends)
            m_tallies[size_t(pending)].AddFailure("cycle " + cycle + ": no reply after " +
                                                  Counted(resends, "resend", "resends") +
                                                  " when the run ended");
        const auto any = [this](int TItemTally::*count) {
            return std::any_of(m_tallies.begin(), m_tallies.end(),
                               [count](const TItemTally& tally) { return tally.*count > 0; });
        };
        // A failed check, then too many resends, fail a run that ran its course.
        status = any(&TItemTally::failed)         ? kRunCheckFailed
                 : any(&TItemTally::failureCount) ? kRunResends
                                                  : kRunCompleted;
    } else if (!m_lastPassEnded && pending >= 1 && pending <= kSlotCount) {
        m_end.failingSlot = pending;
        m_end.failed = status == kRunNoReply;
        m_end.details = awaiting
                            ? m_replies.Unanswered()
                            : QByteArrayList{"the run ended before its turn in cycle " + cycle};
    }
    m_summary.exitStatus = status;
    Feed.Ended(status, pending, message);
    m_end.message = message;
    // One of many controllers says which it is.
    if (!message.isEmpty())
        WriteLine(stderr, EscapedLine(m_brief ? m_controller + ": " + message : message).toUtf8());
    // Not inside the notification or tick that ended the run: the socket is
    // closed from the loop.
    QTimer::singleShot(0, this, [this] { Guarded([this] { Conclude(); }); });
    EndAttempt();
}

void TControllerRun::Conclude() {
    m_socket->SetActive(false);
    m_socket.reset();
    // Before a connection there is no item the run stopped at.
    TRunSummary& summary = m_summary;
    summary.controller = m_controller;
    summary.cycles = m_replies.Pass() - 1;
    if (m_everConnected) {
        summary.failingSlot = m_end.failingSlot;
        // Only what an unanswered command gathered: the rest is in the reason.
        if (m_replies.Awaiting())
            summary.unanswered = m_end.details;
    }
    if (summary.exitStatus == kRunInterrupted)
        summary.reason = "interrupted";
    else if (summary.exitStatus != kRunCompleted && summary.exitStatus != kRunResends)
        summary.reason = m_end.message;
    for (const TRunItem& item : m_definition.items)
        summary.items.append(m_tallies[size_t(item.slot)]);
    m_output.Summary(summary, m_brief);
    if (Finished)
        Finished(summary);
}

TSuiteResult TControllerRun::SuiteResult(const QString& name) const {
    TSuiteResult suite{name, m_started, double(m_clock.elapsed()) / 1000, {}};
    for (const TRunItem& item : m_definition.items)
        suite.cases.append(CaseOf(m_tallies[size_t(item.slot)], m_end));
    return suite;
}
