#include "runner/timer_queue.h"

#include <algorithm>

TTimerQueue::TTimerQueue() {
    const auto wokenUp = [this] {
        m_armedNs = -1;
        FireDue();
    };
    auto* const dispatcher = dynamic_cast<TEpollDispatcher*>(QAbstractEventDispatcher::instance());
    if (dispatcher && dispatcher->ClaimDeadline(wokenUp)) {
        m_dispatcher = dispatcher;
        return;
    }
    m_wakeUp.setSingleShot(true);
    m_wakeUp.setTimerType(Qt::PreciseTimer);
    connect(&m_wakeUp, &QTimer::timeout, this, wokenUp);
}

TTimerQueue::~TTimerQueue() {
    if (m_dispatcher)
        m_dispatcher->ReleaseDeadline();
}

TTimerQueue::TTimer::TTimer(TTimerQueue& queue, std::function<void()> fire)
    : m_queue(queue), m_fire(std::move(fire)) {
    if (queue.m_freeRows.empty()) {
        m_index = uint32_t(queue.m_rows.size());
        queue.m_rows.push_back(nullptr);
    } else {
        m_index = queue.m_freeRows.back();
        queue.m_freeRows.pop_back();
    }
    queue.m_rows[m_index] = this;
}

TTimerQueue::TTimer::~TTimer() {
    m_queue.m_rows[m_index] = nullptr;
    m_queue.m_freeRows.push_back(m_index);
}

void TTimerQueue::TTimer::Start(int ms) {
    m_dueNs = m_queue.StartNs() + qint64(ms) * 1000000;
    // An entry due no later stays and is moved on when it comes round.
    if (m_queuedNs < 0 || m_dueNs < m_queuedNs)
        m_queue.Queue(*this, m_dueNs);
}

qint64 TTimerQueue::StartNs() const {
    // Past the pass that runs, should the clock not have moved since it began.
    return m_firing ? std::max(NowNs(), m_passNs + 1) : NowNs();
}

void TTimerQueue::Queue(TTimer& timer, qint64 dueNs) {
    timer.m_queuedNs = dueNs;
    m_entries.push({dueNs, timer.m_index});
    if (!m_firing && (m_armedNs < 0 || dueNs < m_armedNs))
        Rearm();
}

void TTimerQueue::FireDue() {
    m_firing = true;
    // One reading for the whole pass: what falls due while handlers run, and
    // whatever they start, waits for the next pass, so that the sockets are
    // served in between and a handler restarting its own timer cannot keep
    // the pass going.
    m_passNs = NowNs();
    while (!m_entries.empty() && m_entries.top().dueNs <= m_passNs) {
        const TEntry entry = m_entries.top();
        m_entries.pop();
        TTimer* timer = m_rows[entry.index];
        if (!timer || entry.dueNs != timer->m_queuedNs)
            continue;
        timer->m_queuedNs = -1;
        if (timer->m_dueNs < 0)
            continue;
        if (timer->m_dueNs > entry.dueNs) {
            Queue(*timer, timer->m_dueNs);
            continue;
        }
        timer->m_dueNs = -1;
        timer->m_fire(); // may start, stop or destroy any timer
    }
    m_firing = false;
    Rearm();
}

void TTimerQueue::Rearm() {
    constexpr qint64 kMsNs = 1000000;
    m_armedNs = m_entries.empty() ? -1 : m_entries.top().dueNs;
    if (m_dispatcher) {
        // At the end of the clock's millisecond it falls in: what falls due
        // within one millisecond is fired in one pass.
        return m_dispatcher->SetDeadline(m_armedNs < 0 ? -1
                                                       : (m_armedNs + kMsNs - 1) / kMsNs * kMsNs);
    }
    if (m_armedNs < 0)
        return m_wakeUp.stop();
    // Whole milliseconds, rounded up, so the wake-up never comes early.
    const qint64 waitNs = std::max<qint64>(m_armedNs - NowNs(), 0);
    m_wakeUp.start(int((waitNs + kMsNs - 1) / kMsNs));
}
