#pragma once

#include "runner/epoll_dispatcher.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

// The deadlines of many controllers on one Qt timer. Qt keeps its timers in
// a sorted list, so with thousands of controllers every restart of a
// watchdog walks it; here arming costs O(log n) and moving a deadline later,
// which is what a watchdog does on every send, costs nothing until the old
// deadline comes round. A pass fires only what was due when it began. On the
// runner's dispatcher the queue takes its deadline
// (TEpollDispatcher::ClaimDeadline), unless another queue has, and then needs
// no Qt timer. Everything runs on the thread of the queue.
class TTimerQueue : public QObject {
public:
    TTimerQueue();
    ~TTimerQueue() override;

    // A one-shot deadline that calls its handler when due, unless stopped or
    // moved before. It may be destroyed at any time, also while queued.
    class TTimer {
    public:
        TTimer(TTimerQueue& queue, std::function<void()> fire);
        ~TTimer();
        TTimer(const TTimer&) = delete;
        TTimer& operator=(const TTimer&) = delete;

        // Due ms from now, whether it was running or not.
        void Start(int ms);
        void Stop() { m_dueNs = -1; }
        bool IsActive() const { return m_dueNs >= 0; }

    private:
        friend class TTimerQueue;
        TTimerQueue& m_queue;
        std::function<void()> m_fire;
        uint32_t m_index;       // in the queue's table of timers
        qint64 m_dueNs = -1;    // -1: stopped
        qint64 m_queuedNs = -1; // the deadline its earliest entry stands for; -1: none
    };

private:
    // A deadline queued for the timer in a row of m_rows. One that no longer
    // matches the timer's m_queuedNs is stale: the timer went, or an earlier
    // deadline took over.
    struct TEntry {
        qint64 dueNs;
        uint32_t index;
        bool operator>(const TEntry& other) const { return dueNs > other.dueNs; }
    };

    static qint64 NowNs() { return TDispatcherTimers::NowNs(); }
    // The time a deadline started now counts from: after the pass that runs.
    qint64 StartNs() const;
    void Queue(TTimer& timer, qint64 dueNs);
    void FireDue();
    void Rearm();

    QPointer<TEpollDispatcher> m_dispatcher; // whose deadline wakes the queue; else m_wakeUp
    QTimer m_wakeUp;
    std::priority_queue<TEntry, std::vector<TEntry>, std::greater<TEntry>> m_entries;
    std::vector<TTimer*> m_rows; // nullptr: free
    std::vector<uint32_t> m_freeRows;
    qint64 m_armedNs = -1; // the deadline the wake-up is set for; -1: none
    bool m_firing = false; // FireDue sets the wake-up once it is done
    qint64 m_passNs = 0;   // when the pass that runs began
};
