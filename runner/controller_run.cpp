#include "runner/controller_run.h"

#include "base/convert.h"
#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"

#include <QScopedValueRollback>

#include <algorithm>

namespace {

int LabelWidth(const TRunDefinition& definition) {
    qsizetype width = 5;
    for (const TRunItem& item : definition.items)
        width = std::max(width, EscapedText(item.label, true).size());
    return int(std::min<qsizetype>(width, 40));
}

QByteArray SecondsText(int ms) {
    return QByteArray::number(double(ms) / 1000, 'g', 6) + " s";
}

} // namespace

TControllerRun::TControllerRun(TRunDefinition definition, const TRunOptions& options, FILE* out)
    : m_definition(std::move(definition)), m_options(options),
      m_socket(std::make_unique<TClientSocket>(nullptr)),
      m_output(out, options.json, LabelWidth(m_definition)), m_lastReplies(kSlotCount + 1) {
    m_cycle.CommandOf = [this](int slot) { return m_definition.Item(slot).command; };
    m_cycle.ItemCount = [this] { return m_definition.itemCount; };

    m_socket->OnConnect = TSocketNotifyEvent(this, &TControllerRun::SocketConnect);
    m_socket->OnDisconnect = TSocketNotifyEvent(this, &TControllerRun::SocketDisconnect);
    m_socket->OnError = TSocketErrorEvent(this, &TControllerRun::SocketError);
    m_socket->OnRead = TSocketNotifyEvent(this, &TControllerRun::SocketRead);

    m_sendTimer.setSingleShot(true);
    m_sendTimer.setInterval(kSendDelayMs);
    m_watchdog.setInterval(kWatchdogMs);
    m_giveUp.setSingleShot(true);
    m_giveUp.setInterval(m_options.timeoutMs);
    m_duration.setSingleShot(true);
    m_duration.setInterval(m_options.durationMs);
    for (QTimer* timer : {&m_sendTimer, &m_watchdog, &m_giveUp, &m_duration})
        timer->setTimerType(Qt::PreciseTimer);
    OnTimeout(m_sendTimer, &TControllerRun::SendTick);
    OnTimeout(m_watchdog, &TControllerRun::WatchdogTick);
    OnTimeout(m_giveUp, &TControllerRun::GiveUp);
    OnTimeout(m_duration, &TControllerRun::DurationEnded);

    // Errors raised inside socket notifications and timer ticks end the run.
    SetErrorSink(
        [this](const QByteArray& message) { Finish(kRunConnection, ErrorDisplayText(message)); });
}

TControllerRun::~TControllerRun() {
    SetErrorSink(nullptr);
}

void TControllerRun::OnTimeout(QTimer& timer, void (TControllerRun::*handler)()) {
    connect(&timer, &QTimer::timeout, this,
            [this, handler] { Guarded([&] { (this->*handler)(); }); });
}

void TControllerRun::Enable(QTimer& timer) {
    if (!timer.isActive())
        timer.start();
}

std::optional<int> TControllerRun::Start() {
    m_started = QDateTime::currentDateTimeUtc();
    m_clock.start();
    try {
        m_socket->SetPort(StrToPort(m_definition.port));
        m_socket->SetAddress(m_definition.address);
        const QScopedValueRollback starting(m_starting, true);
        m_socket->SetActive(true);
    } catch (const Exception& error) {
        WriteLine(stderr, ErrorDisplayText(error.Message()));
        // A port or address the component cannot use is the definition's
        // fault; anything else is the connection's.
        const bool definitionError = !dynamic_cast<const ESocketError*>(&error) || m_addressRefused;
        return definitionError ? kRunUsage : kRunConnection;
    }
    if (m_options.durationMs > 0)
        m_duration.start();
    m_giveUp.start();
    return std::nullopt;
}

void TControllerRun::Interrupt() {
    Finish(kRunInterrupted);
}

void TControllerRun::SocketConnect(QObject*, TCustomWinSocket*) {
    m_everConnected = true;
    // As Start Test does: the first command goes out one send delay later.
    Enable(m_sendTimer);
}

void TControllerRun::SocketDisconnect(QObject*, TCustomWinSocket*) {
    // A refused address closes the attempt inside Start, which reports it.
    if (!m_finishing && !m_starting)
        Finish(kRunConnection, "Disconnected from " + m_definition.address);
}

void TControllerRun::SocketError(QObject*, TCustomWinSocket*, TErrorEvent kind, int&) {
    m_addressRefused = m_starting && kind == erLookup;
    // The code stays: the component goes on to raise its error, which the
    // sink prints and which ends the run.
    if (!m_finishing)
        WriteLine(stderr, "Error communicating with " + m_definition.address);
}

void TControllerRun::SendTick() {
    // Off then on: a fresh full watchdog interval from this send.
    m_watchdog.stop();
    m_watchdog.start();
    const TCycleRules::TSend send = m_cycle.SendTick();
    if (send.action == TCycleRules::TSendAction::Skip) {
        StepAdvanced();
        if (!m_finishing)
            Enable(m_sendTimer);
        return;
    }
    if (send.action != TCycleRules::TSendAction::Send)
        return;
    if (m_awaitingReply && send.slot == m_sentSlot) {
        ++m_resends;
        ++m_totalResends;
    } else {
        m_resends = 0;
    }
    m_sentSlot = send.slot;
    m_awaitingReply = true;
    m_sentNs = m_clock.nsecsElapsed();
    m_socket->WinSocket()->SendString(send.command);
}

void TControllerRun::WatchdogTick() {
    Enable(m_sendTimer);
}

void TControllerRun::SocketRead(QObject*, TCustomWinSocket* socket) {
    const TCycleRules::TReply reply = m_cycle.Received(socket->ReceiveString());
    if (!reply.complete || m_finishing)
        return;
    m_giveUp.start();
    RecordReply(reply);
    StepAdvanced();
    if (!m_finishing)
        Enable(m_sendTimer);
}

void TControllerRun::RecordReply(const TCycleRules::TReply& reply) {
    const TRunItem item = m_definition.Item(reply.slot);
    TReplyRecord record{QDateTime::currentDateTimeUtc(),
                        m_passes + 1,
                        reply.slot,
                        item.label,
                        item.command,
                        reply.text,
                        double(m_clock.nsecsElapsed() - m_sentNs) / 1e6,
                        m_resends};
    m_awaitingReply = false;
    m_resends = 0;
    m_rttMs.push_back(record.rttMs);
    m_output.Reply(record);
    m_lastReplies[size_t(reply.slot)] = std::move(record);
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
        Finish(kRunConnection, ErrorDisplayText("Could not connect to " + m_definition.address +
                                                " within " + SecondsText(m_options.timeoutMs)));
        return;
    }
    const TRunItem item = m_definition.Item(m_cycle.TestStep);
    Finish(kRunNoReply,
           ErrorDisplayText("No complete reply for " + SecondsText(m_options.timeoutMs) +
                            ": gave up waiting on slot " + QByteArray::number(item.slot) + " (" +
                            EscapedText(item.label, true).toUtf8() + ")"));
}

void TControllerRun::DurationEnded() {
    Finish(kRunCompleted);
}

void TControllerRun::Finish(int status, const QByteArray& message) {
    if (m_finishing)
        return;
    m_finishing = true;
    m_status = status;
    m_endMessage = message;
    for (QTimer* timer : {&m_sendTimer, &m_watchdog, &m_giveUp, &m_duration})
        timer->stop();
    if (!message.isEmpty())
        WriteLine(stderr, message);
    // Not inside the notification or tick that ended the run: the socket is
    // closed from the loop.
    QTimer::singleShot(0, this, [this] { Guarded([this] { Conclude(); }); });
}

void TControllerRun::Conclude() {
    m_socket->SetActive(false);
    m_socket.reset();
    m_output.Summary(
        {int(m_rttMs.size()), m_totalResends, m_passes, RoundTripsOf(m_rttMs), m_status});
    if (Finished)
        Finished(m_status);
}

QList<TCaseResult> TControllerRun::CaseResults() const {
    using TKind = TCaseResult::TKind;
    QList<TCaseResult> cases;
    const bool stuck = m_status == kRunNoReply || m_status == kRunConnection;
    for (const TRunItem& item : m_definition.items) {
        TCaseResult result{item, TKind::Passed, {}, m_lastReplies[size_t(item.slot)]};
        if (stuck && item.slot == m_cycle.TestStep)
            result = {item, m_status == kRunNoReply ? TKind::Failed : TKind::Error, m_endMessage,
                      result.last};
        else if (item.command.isEmpty())
            result = {item, TKind::Skipped, "empty command", {}};
        else if (!result.last)
            result = {item, TKind::Skipped, "not reached", {}};
        cases.append(result);
    }
    return cases;
}
