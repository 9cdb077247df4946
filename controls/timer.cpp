#include "controls/timer.h"

#include "base/guard.h"

TTimer::TTimer(QObject* owner, int intervalMs) : QObject(owner) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Guarded([this] { OnTimer(this); }); });
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == Enabled())
        return;
    if (enabled)
        m_timer.start();
    else
        m_timer.stop();
}
