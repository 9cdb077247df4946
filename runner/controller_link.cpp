// The connection's side of a controller's run: dialling, the socket's
// notifications, giving up, and with --reconnect the outages and redials.
#include "runner/controller_run.h"

#include "base/convert.h"
#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"
#include "runner/run_logging.h"

#include <QRandomGenerator>

#include <cstring>
#include <utility>

std::unique_ptr<TClientSocket> TControllerRun::NewSocket() {
    auto socket = std::make_unique<TClientSocket>(nullptr);
    socket->OnConnect = TSocketNotifyEvent(this, &TControllerRun::SocketConnect);
    socket->OnDisconnect = TSocketNotifyEvent(this, &TControllerRun::SocketDisconnect);
    socket->OnError = TSocketErrorEvent(this, &TControllerRun::SocketError);
    socket->OnRead = TSocketNotifyEvent(this, &TControllerRun::SocketRead);
    // A reply is handled in the pass that found it: no second pass per reply.
    socket->WinSocket()->Delivery = TDelivery::InPass;
    return socket;
}

void TControllerRun::Start() {
    m_started = QDateTime::currentDateTimeUtc();
    m_clock.start();
    Dial();
}

void TControllerRun::Dial() {
    m_attemptOver = false;
    m_giveUp.Start(m_options.timeoutMs);
    FailOnError([this] {
        m_socket->SetPort(StrToPort(m_definition.port));
        m_socket->SetAddress(m_definition.address);
        m_socket->SetActive(true);
    });
}

void TControllerRun::SocketConnect(QObject* sender, TCustomWinSocket*) {
    if (!Current(sender))
        return;
    m_everConnected = true;
    m_giveUp.Stop();
    Feed.Connected();
    if (m_summary.connection.Down())
        ReportReconnected();
    m_backoff.Connected(m_clock.elapsed());
    // As Start Test does: the first command goes out one send delay later.
    ArmSend();
    EndAttempt();
}

void TControllerRun::EndAttempt() {
    if (!std::exchange(m_attemptOver, true) && AttemptEnded)
        AttemptEnded();
}

void TControllerRun::SocketDisconnect(QObject* sender, TCustomWinSocket*) {
    if (!m_finishing && Current(sender))
        LoseConnection(
            kRunConnection,
            ConnectionMessage("Disconnected from " + m_definition.address, "closed by the peer"),
            "closed by the peer");
}

void TControllerRun::SocketError(QObject* sender, TCustomWinSocket*, TErrorEvent, int& code) {
    // Reported here with the controller and the reason, so the component
    // raises nothing of its own.
    const int error = std::exchange(code, 0);
    if (!m_finishing && Current(sender))
        LoseConnection(kRunConnection,
                       ConnectionMessage(ErrorDisplayText("Asynchronous socket error " +
                                                          QByteArray::number(error)),
                                         std::strerror(error)),
                       std::strerror(error));
}

void TControllerRun::GiveUp() {
    const QByteArray timeout = SecondsText(m_options.timeoutMs);
    if (!m_socket->Active()) {
        const QByteArray reason = "could not connect within " + timeout;
        LoseConnection(
            kRunConnection,
            ErrorDisplayText("Could not connect to " + m_controller + " within " + timeout),
            reason);
        return;
    }
    const TRunItem item = m_definition.Item(m_cycle.TestStep);
    const QByteArray reason = "no complete reply for " + timeout + " at slot " +
                              QByteArray::number(item.slot) + " (" + item.label + ")";
    LoseConnection(kRunNoReply,
                   ErrorDisplayText("No complete reply for " + timeout +
                                    ": gave up waiting on slot " + QByteArray::number(item.slot) +
                                    " (" + item.label + ")"),
                   reason);
}

void TControllerRun::LoseConnection(int status, const QByteArray& message,
                                    const QByteArray& reason) {
    // Once the last pass ended there is nothing to resume.
    if (!m_options.reconnect || m_lastPassEnded)
        return Finish(status, message);
    for (TTimerQueue::TTimer* timer : {&m_sendTimer, &m_watchdog, &m_giveUp})
        timer->Stop();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (m_summary.connection.Began(now, m_clock.elapsed(), reason))
        m_output.Outage(m_controller, now, reason);
    Feed.Lost(reason);
    CheckOutput();
    CountPendingResends();
    m_replies.ConnectionLost();
    // Not inside the socket's own notification: it is closed from the loop.
    m_closing = std::move(m_socket);
    m_socket = NewSocket();
    QTimer::singleShot(0, this, [this] { Guarded([this] { CloseLost(); }); });
    const int waitMs =
        m_backoff.Failed(m_clock.elapsed(), QRandomGenerator::global()->generateDouble());
    qCDebug(lcRunner, "%s down (%s): dialling again in %d ms", m_controller.constData(),
            reason.constData(), waitMs);
    if (!m_finishing)
        m_redial.Start(waitMs);
    EndAttempt();
}

void TControllerRun::ReportReconnected() {
    const int64_t downMs = m_summary.connection.Ended(m_clock.elapsed());
    m_output.Reconnected(m_controller, QDateTime::currentDateTimeUtc(), downMs,
                         m_backoff.Failures());
    qCDebug(lcRunner, "%s reconnected after %lld ms down, %d attempts", m_controller.constData(),
            static_cast<long long>(downMs), m_backoff.Failures());
    CheckOutput();
}

void TControllerRun::CloseLost() {
    if (m_closing)
        m_closing->SetActive(false);
    m_closing.reset();
}
