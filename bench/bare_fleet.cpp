// The floor for many controllers in one process: a bare QCoreApplication
// program that keeps N connections cycling - send a fixed command, read until
// "]", wait 100 ms, send again - with one read notifier and one single-shot
// timer per controller and nothing else: no parsing, no output per reply. At
// the end it prints "replies R connected C of N lost L".
// Usage: bare_fleet ADDRESS PORT[-LAST] N SECONDS [INTERVAL [MAX_CONNECTING]]
// (bench/fleet_client.h).
#include "bench/file_limit.h"
#include "bench/fleet_client.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct TController {
    int fd = -1;
    in_port_t port = 0; // network byte order
    std::unique_ptr<QSocketNotifier> connecting, reading;
    QTimer sendTimer;
    Clock::time_point passStart;
};

class TFleet {
public:
    explicit TFleet(const TFleetOptions& options) : m_options(options) {
        for (int i = 0; i < options.controllers; ++i) {
            TController& controller = m_controllers.emplace_back();
            controller.port = options.PortOf(i);
            controller.sendTimer.setSingleShot(true);
            controller.sendTimer.setTimerType(Qt::PreciseTimer);
            QObject::connect(&controller.sendTimer, &QTimer::timeout,
                             [this, &controller] { Send(controller); });
        }
    }

    void Start() {
        while (m_inFlight < m_options.maxConnecting && m_nextToDial < m_controllers.size())
            Dial(m_controllers[m_nextToDial++]);
    }

    void Report() const { PrintFleetReport(m_replies, m_connected, m_options.controllers, m_lost); }

private:
    void Dial(TController& controller) {
        controller.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = controller.port;
        peer.sin_addr = m_options.address;
        if (::connect(controller.fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
            return Connected(controller);
        if (errno != EINPROGRESS)
            return Drop(controller);
        ++m_inFlight;
        controller.connecting =
            std::make_unique<QSocketNotifier>(controller.fd, QSocketNotifier::Write);
        QObject::connect(controller.connecting.get(), &QSocketNotifier::activated,
                         [this, &controller] { ConnectDone(controller); });
    }

    void ConnectDone(TController& controller) {
        --m_inFlight;
        // Never deleted inside its own activation: later, by the loop.
        controller.connecting->setEnabled(false);
        controller.connecting.release()->deleteLater();
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(controller.fd, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error == 0)
            Connected(controller);
        else
            Drop(controller);
        Start();
    }

    void Connected(TController& controller) {
        ++m_connected;
        controller.reading =
            std::make_unique<QSocketNotifier>(controller.fd, QSocketNotifier::Read);
        QObject::connect(controller.reading.get(), &QSocketNotifier::activated,
                         [this, &controller] { Read(controller); });
        Send(controller);
    }

    void Send(TController& controller) {
        controller.passStart = Clock::now();
        if (!SendCommand(controller.fd))
            Drop(controller);
    }

    void Read(TController& controller) {
        const TReceived received = ReceiveReply(controller.fd);
        if (received == TReceived::Lost)
            return Drop(controller);
        if (received != TReceived::Reply)
            return;
        ++m_replies;
        // The interval counts from the start of the pass, the send delay from
        // the reply; whichever ends later.
        const auto sinceStart = Clock::now() - controller.passStart;
        const milliseconds wait = std::chrono::ceil<milliseconds>(m_options.interval - sinceStart);
        controller.sendTimer.start(std::max(kFleetSendDelay, wait));
    }

    void Drop(TController& controller) {
        ++m_lost;
        controller.sendTimer.stop();
        if (controller.reading)
            controller.reading->setEnabled(false);
        ::close(controller.fd);
        controller.fd = -1;
    }

    TFleetOptions m_options;
    // A deque: controllers never move, so the handlers may hold references.
    std::deque<TController> m_controllers;
    size_t m_nextToDial = 0;
    int m_inFlight = 0, m_connected = 0, m_lost = 0;
    long long m_replies = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TFleetOptions options;
    if (!ParseFleetOptions(argc, argv, options))
        return 2;
    RaiseOpenFileLimit();

    TFleet fleet(options);
    QTimer::singleShot(0, &app, [&fleet] { fleet.Start(); });
    // Precise: a coarse timer of many seconds may end the run a second early,
    // before the bench's steady window closes.
    QTimer::singleShot(options.duration, Qt::PreciseTimer, &app, [&fleet] {
        fleet.Report();
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}
