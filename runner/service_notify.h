#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <functional>

// Tells the service manager how the runner is when it runs as a notify
// service (systemd's sd_notify): READY=1 once the run is under way, then
// from the event loop WATCHDOG=1 at half the watchdog's period, when it has
// one, and the status line (STATUS=) at every beat. Without NOTIFY_SOCKET in
// the environment it sends nothing and runs no timer.
class TServiceNotify : public QObject {
public:
    // status gives the STATUS= text (one line), asked for at every message.
    explicit TServiceNotify(std::function<QByteArray()> status);

    // Whether a service manager listens.
    bool Active() const { return m_active; }
    // READY=1 with the status; the beats start.
    void Ready();
    // STOPPING=1 with the status; the beats stop.
    void Stopping();

    // The status is sent this often even without a watchdog.
    static constexpr int kStatusMs = 5000;

private:
    void Send(const QByteArray& state);

    const std::function<QByteArray()> m_status;
    const bool m_active;
    bool m_watchdog = false;
    QTimer m_beat;
};
