#pragma once

#include "base/events.h"

#include <QObject>
#include <QTimer>

// Interval timer on the event loop. Enabling a disabled timer starts a full
// interval; setting the enabled state it already has changes nothing (an
// enabled timer is not restarted); it fires repeatedly while enabled.
class TTimer : public QObject {
    Q_OBJECT
public:
    explicit TTimer(QObject* owner, int intervalMs = 1000);

    bool Enabled() const { return m_timer.isActive(); }
    void SetEnabled(bool enabled);
    int Interval() const { return m_timer.interval(); }
    void SetInterval(int intervalMs) { m_timer.setInterval(intervalMs); }

    TNotifyEvent OnTimer;

private:
    QTimer m_timer;
};
