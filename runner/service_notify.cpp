#include "runner/service_notify.h"

#include "base/guard.h"

#include <systemd/sd-daemon.h>

#include <algorithm>

TServiceNotify::TServiceNotify(std::function<QByteArray()> status)
    : m_status(std::move(status)), m_active(!qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) {
    if (!m_active)
        return;
    uint64_t watchdogUs = 0;
    m_watchdog = sd_watchdog_enabled(0, &watchdogUs) > 0 && watchdogUs > 0;
    const uint64_t halfMs = std::max<uint64_t>(1, watchdogUs / 2000);
    m_beat.setInterval(m_watchdog ? int(std::min<uint64_t>(halfMs, kStatusMs)) : kStatusMs);
    connect(&m_beat, &QTimer::timeout, this,
            [this] { Guarded([this] { Send(m_watchdog ? "WATCHDOG=1\n" : ""); }); });
}

void TServiceNotify::Ready() {
    if (!m_active)
        return;
    Send("READY=1\n");
    m_beat.start();
}

void TServiceNotify::Stopping() {
    if (!m_active)
        return;
    m_beat.stop();
    Send("STOPPING=1\n");
}

void TServiceNotify::Send(const QByteArray& state) {
    QByteArray status = m_status();
    status.replace('\n', ' ');
    sd_notify(0, (state + "STATUS=" + status + '\n').constData());
}
