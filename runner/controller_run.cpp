#include "runner/controller_run.h"

#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"
#include "runner/run_logging.h"

#include <algorithm>
#include <utility>

namespace {

// What is wrong with a run that ran its course on the connection's side:
// it never connected, or lost the connection. Empty when neither.
QByteArray CourseRunMessage(bool everConnected, const QByteArray& controller,
                            const TOutageLog& log) {
    if (!everConnected)
        return ErrorDisplayText("Could not connect to " + controller + " before the run ended");
    if (log.Outages() > 0)
        return "Connection lost " + Counted(qsizetype(log.Outages()), "time", "times") + ", down " +
               SecondsText(log.DownMs()) + " in all";
    return {};
}

} // namespace

TControllerRun::TControllerRun(TRunDefinition definition, const TRunOptions& options,
                               const TReplyChecks& checks, TTimerQueue& timers, TRunOutput& output,
                               bool brief)
    : m_definition(std::move(definition)), m_options(options), m_checks(checks),
      m_controller(m_definition.address + ':' + m_definition.port), m_output(output),
      m_brief(brief), m_socket(NewSocket()),
      m_sendTimer(timers, TimerHandler(&TControllerRun::SendTick)),
      m_watchdog(timers, TimerHandler(&TControllerRun::WatchdogTick)),
      m_giveUp(timers, TimerHandler(&TControllerRun::GiveUp)),
      m_redial(timers, [this] { Guarded([this] { RedialDue(); }); }),
      m_backoff(options.reconnectMaxMs), m_tallies(size_t(m_definition.items.size()) + 1) {
    m_cycle.CommandOf = [this](int slot) { return m_definition.Item(slot).command; };
    m_cycle.ItemCount = [this] { return m_definition.itemCount; };
    for (const TRunItem& item : m_definition.items)
        m_tallies[size_t(item.slot)].item = item;
    m_clock.start();
}

TControllerRun::~TControllerRun() = default;

void TControllerRun::FailOnError(THandlerRef work) {
    try {
        work();
    } catch (const Exception& error) {
        LoseConnection(kRunConnection,
                       ConnectionMessage(ErrorDisplayText(error.Message()), "failed"),
                       error.Message());
    }
}

std::function<void()> TControllerRun::TimerHandler(void (TControllerRun::*handler)()) {
    return [this, handler] { Guarded([&] { FailOnError([&] { (this->*handler)(); }); }); };
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
    else
        qCDebug(lcRunner, "%s: resending slot %d, resend %d", m_controller.constData(), send.slot,
                m_replies.Resends());
    m_socket->WinSocket()->SendString(send.command);
}

void TControllerRun::SocketRead(QObject* sender, TCustomWinSocket* socket) {
    FailOnError([&] {
        const QByteArray bytes = socket->ReceiveString();
        if (m_finishing || !Current(sender))
            return;
        // All they hold is reported before the last pass may end the run.
        bool passEnded = false;
        bool answered = false;
        for (TReplyMatcher::TReceived& received : m_replies.Received(bytes)) {
            if (m_finishing)
                return;
            if (received.kind == TReplyMatcher::TKind::Unsolicited) {
                RecordUnsolicited(received);
                continue;
            }
            RecordReply(std::move(received.record));
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
        NoteFailures(record);
    }
    Feed.Reply(record);
    m_output.Reply(m_controller, record);
    CheckOutput();
}

void TControllerRun::NoteFailures(const TReplyRecord& record) {
    TOutageLog& log = m_summary.connection;
    if (record.verdict.outcome == TVerdict::TOutcome::Fail)
        log.Failed(record.time, record.label, record.verdict.why);
    if (record.resends > m_options.maxResends)
        log.Failed(record.time, record.label,
                   "answered after " + Counted(record.resends, "resend", "resends"));
}

void TControllerRun::RecordUnsolicited(const TReplyMatcher::TReceived& received) {
    const QByteArray& bytes = received.record.reply;
    ++m_summary.unsolicited;
    m_summary.outOfStep += received.outOfStep ? 1 : 0;
    Feed.Unsolicited(bytes.size());
    m_output.Unsolicited(m_controller,
                         {received.record.time, received.record.pass,
                          bytes.left(TUnsolicited::kShownBytes), bytes.size(), received.outOfStep});
    CheckOutput();
    if (!received.outOfStep || m_options.allowUnsolicited || m_finishing)
        return;
    const TRunItem item = m_definition.Item(received.displaces);
    // Any reply of the run may be one of a shifted stream.
    qCDebug(lcRunner, "%s: %lld bytes out of step after slot %d", m_controller.constData(),
            static_cast<long long>(bytes.size()), received.displaces);
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

void TControllerRun::CountPendingResends() {
    if (m_replies.Awaiting())
        m_tallies[size_t(m_replies.AwaitedSlot())].resends += m_replies.Resends();
}

void TControllerRun::Finish(int status, QByteArray message) {
    if (m_finishing)
        return;
    m_finishing = true;
    for (TTimerQueue::TTimer* timer : {&m_sendTimer, &m_watchdog, &m_giveUp, &m_redial})
        timer->Stop();
    m_watchedMs = m_clock.elapsed();
    m_summary.connection.RunEnded(m_watchedMs);
    const TOutageLog& log = m_summary.connection;
    if (status == kRunCompleted && message.isEmpty())
        message = CourseRunMessage(m_everConnected, m_controller, log);
    const bool awaiting = m_replies.Awaiting();
    const int pending = awaiting ? m_replies.AwaitedSlot() : m_cycle.TestStep;
    const int resends = m_replies.Resends();
    CountPendingResends();
    const QByteArray pass = QByteArray::number(m_replies.Pass());
    // A command resent more often than accepted fails even when the run
    // ended before its reply could come.
    if (status == kRunCompleted && awaiting && resends > m_options.maxResends)
        m_tallies[size_t(pending)].AddFailure("cycle " + pass + ": no reply after " +
                                              Counted(resends, "resend", "resends") +
                                              " when the run ended");
    const auto any = [this](qint64 TItemTally::*count) {
        return std::any_of(m_tallies.begin(), m_tallies.end(),
                           [count](const TItemTally& tally) { return tally.*count > 0; });
    };
    const int stoppedWith = status;
    status = ControllerStatus({stoppedWith, m_everConnected, any(&TItemTally::failed),
                               any(&TItemTally::failureCount), log.Outages()});
    if (stoppedWith != kRunCompleted && !m_lastPassEnded && pending >= 1 && pending <= kSlotCount) {
        m_end.failingSlot = pending;
        m_end.failed = stoppedWith == kRunNoReply;
        m_end.details = awaiting ? m_replies.Unanswered()
                                 : QByteArrayList{"the run ended before its turn in cycle " + pass};
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
    CloseLost();
    m_socket->SetActive(false);
    m_socket.reset();
    // Before a connection there is no item the run stopped at.
    TRunSummary& summary = m_summary;
    summary.controller = m_controller;
    summary.passes = m_replies.Pass() - 1;
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
    // The time this controller was watched, not the whole run's.
    TSuiteResult suite{
        name, m_started, double(m_watchedMs >= 0 ? m_watchedMs : m_clock.elapsed()) / 1000, {}};
    for (const TRunItem& item : m_definition.items)
        suite.cases.append(CaseOf(m_tallies[size_t(item.slot)], m_end));
    const TOutageLog& log = m_summary.connection;
    if (log.Outages() > 0)
        suite.cases.append({{0, "connection", {}},
                            TCaseResult::TKind::Failed,
                            Counted(qsizetype(log.Outages()), "outage", "outages") + ", down " +
                                SecondsText(log.DownMs()) + " in all",
                            OutageDetails(log),
                            std::nullopt});
    return suite;
}
