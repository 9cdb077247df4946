#include "runner/dispatcher_timers.h"

#include <QCoreApplication>
#include <QTimerEvent>

#include <chrono>

namespace {

constexpr qint64 kNsPerMs = 1000000;

// The grid a timer's deadlines are rounded to: none for a precise timer,
// whole seconds for a very coarse one, and for a coarse one the coarsest
// step within 5 % of its interval, so that coarse timers of similar
// intervals share their wake-ups.
qint64 GranuleNs(qint64 intervalMs, Qt::TimerType type) {
    if (type == Qt::VeryCoarseTimer)
        return 1000 * kNsPerMs;
    if (type != Qt::CoarseTimer)
        return 0;
    static constexpr qint64 kStepsMs[] = {1000, 500, 250, 100, 50, 25, 10, 5, 1};
    for (const qint64 stepMs : kStepsMs)
        if (stepMs <= intervalMs / 20)
            return stepMs * kNsPerMs;
    return 0;
}

// The nearest point of the grid, never before now.
qint64 RoundedNs(qint64 nominalNs, qint64 nowNs, qint64 granuleNs) {
    if (granuleNs == 0)
        return nominalNs;
    const qint64 due = (nominalNs + granuleNs / 2) / granuleNs * granuleNs;
    return due < nowNs ? due + granuleNs : due;
}

} // namespace

qint64 TDispatcherTimers::NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TDispatcherTimers::Register(int id, qint64 intervalMs, Qt::TimerType type, QObject* object) {
    Unregister(id); // Qt never hands out a live id twice; should it, the new timer wins
    const qint64 nowNs = NowNs();
    TTimer& timer = m_timers[id];
    timer = TTimer{id, intervalMs, type, object, m_nextOrder++, nowNs + intervalMs * kNsPerMs};
    timer.heapIndex = m_heap.size();
    timer.dueNs = RoundedNs(timer.nominalNs, nowNs, GranuleNs(intervalMs, type));
    timer.order = m_nextOrder++;
    m_heap.push_back(&timer);
    SiftUp(timer.heapIndex);
}

bool TDispatcherTimers::Unregister(int id) {
    const auto at = m_timers.find(id);
    if (at == m_timers.end())
        return false;
    Erase(at);
    return true;
}

bool TDispatcherTimers::UnregisterAll(const QObject* object) {
    bool any = false;
    for (auto at = m_timers.begin(); at != m_timers.end();) {
        const auto next = std::next(at);
        if (at->second.object == object) {
            Erase(at);
            any = true;
        }
        at = next;
    }
    return any;
}

QList<TDispatcherTimers::TInfo> TDispatcherTimers::Registered(const QObject* object) const {
    QList<TInfo> found;
    for (const auto& [id, timer] : m_timers)
        if (timer.object == object)
            found.append(TInfo(id, int(timer.intervalMs), timer.type));
    return found;
}

int TDispatcherTimers::RemainingMs(int id) const {
    const auto at = m_timers.find(id);
    if (at == m_timers.end())
        return -1;
    const qint64 leftNs = at->second.dueNs - NowNs();
    return leftNs <= 0 ? 0 : int((leftNs + kNsPerMs - 1) / kNsPerMs);
}

qint64 TDispatcherTimers::WaitNs(qint64 nowNs) const {
    if (m_heap.empty())
        return -1;
    return std::max<qint64>(m_heap.front()->dueNs - nowNs, 0);
}

int TDispatcherTimers::Activate() {
    const qint64 nowNs = NowNs();
    // Timers started or moved on from here on have a later order.
    const uint64_t passStart = m_nextOrder;
    int sent = 0;
    while (!m_heap.empty() && m_heap.front()->dueNs <= nowNs && m_heap.front()->order < passStart) {
        TTimer& timer = *m_heap.front();
        // Moved on first, so that its handler sees the next deadline.
        Schedule(timer, nowNs);
        if (timer.inEvent)
            continue;
        timer.inEvent = true;
        const int id = timer.id;
        const uint64_t serial = timer.serial;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(timer.object, &event);
        ++sent;
        // The handler may have killed it, and its id may belong to a new timer.
        const auto at = m_timers.find(id);
        if (at != m_timers.end() && at->second.serial == serial)
            at->second.inEvent = false;
    }
    return sent;
}

void TDispatcherTimers::Schedule(TTimer& timer, qint64 nowNs) {
    const qint64 intervalNs = timer.intervalMs * kNsPerMs;
    timer.nominalNs += intervalNs;
    // A timer that fell behind skips what it missed rather than firing in a burst.
    if (timer.nominalNs < nowNs)
        timer.nominalNs = nowNs + intervalNs;
    timer.dueNs = RoundedNs(timer.nominalNs, nowNs, GranuleNs(timer.intervalMs, timer.type));
    timer.order = m_nextOrder++;
    SiftDown(timer.heapIndex);
}

bool TDispatcherTimers::Before(const TTimer* a, const TTimer* b) const {
    return a->dueNs != b->dueNs ? a->dueNs < b->dueNs : a->order < b->order;
}

void TDispatcherTimers::Place(size_t index, TTimer* timer) {
    m_heap[index] = timer;
    timer->heapIndex = index;
}

void TDispatcherTimers::SiftUp(size_t index) {
    TTimer* const timer = m_heap[index];
    while (index > 0 && Before(timer, m_heap[(index - 1) / 2])) {
        Place(index, m_heap[(index - 1) / 2]);
        index = (index - 1) / 2;
    }
    Place(index, timer);
}

void TDispatcherTimers::SiftDown(size_t index) {
    TTimer* const timer = m_heap[index];
    for (;;) {
        size_t child = 2 * index + 1;
        if (child >= m_heap.size())
            break;
        if (child + 1 < m_heap.size() && Before(m_heap[child + 1], m_heap[child]))
            ++child;
        if (!Before(m_heap[child], timer))
            break;
        Place(index, m_heap[child]);
        index = child;
    }
    Place(index, timer);
}

void TDispatcherTimers::RemoveFromHeap(TTimer& timer) {
    const size_t index = timer.heapIndex;
    TTimer* const last = m_heap.back();
    m_heap.pop_back();
    if (last == &timer)
        return;
    Place(index, last);
    SiftDown(index);
    SiftUp(last->heapIndex);
}

void TDispatcherTimers::Erase(std::unordered_map<int, TTimer>::iterator at) {
    RemoveFromHeap(at->second);
    m_timers.erase(at);
}
