#pragma once

#include <QAbstractEventDispatcher>

#include <cstdint>
#include <unordered_map>
#include <vector>

// The Qt timers of the runner's event dispatcher (QObject::startTimer, and
// so every QTimer), by id, with their deadlines on a binary heap: starting,
// killing and firing one costs O(log n) whatever else is running. Times are
// CLOCK_MONOTONIC in ns. Everything runs on the dispatcher's thread.
//
// Precise timers come due at their deadline. Coarse ones may come up to 5 %
// of their interval early or late: their deadlines are rounded to a common
// grid, so timers of similar intervals wake the loop together. Very coarse
// ones keep whole seconds.
class TDispatcherTimers {
public:
    using TInfo = QAbstractEventDispatcher::TimerInfo;

    static qint64 NowNs();

    // A periodic timer sending QTimerEvent(id) to object every intervalMs.
    void Register(int id, qint64 intervalMs, Qt::TimerType type, QObject* object);
    // false when there is no such timer.
    bool Unregister(int id);
    bool UnregisterAll(const QObject* object);
    QList<TInfo> Registered(const QObject* object) const;
    // Whole ms until it is due, rounded up, 0 when overdue; -1 for no such timer.
    int RemainingMs(int id) const;
    // ns from nowNs until the first is due, 0 when one is; -1 for none.
    qint64 WaitNs(qint64 nowNs) const;
    // Sends the event of every timer due now, once each, in deadline order,
    // and moves it to its next deadline first. Timers started meanwhile wait
    // for the next pass; a timer whose event is still being handled (a
    // nested loop) is moved on without a second event. A handler may start
    // or kill any timer. Returns the events sent.
    int Activate();

private:
    struct TTimer {
        int id;
        qint64 intervalMs;
        Qt::TimerType type;
        QObject* object;
        uint64_t serial;  // tells a timer from a later one that took its id
        qint64 nominalNs; // the deadline before rounding, so precise ones never drift
        qint64 dueNs = 0;
        uint64_t order = 0; // among equal deadlines; also tells what was due before a pass
        size_t heapIndex = 0;
        bool inEvent = false;
    };

    // Sets the next deadline from nominalNs and requeues.
    void Schedule(TTimer& timer, qint64 nowNs);
    bool Before(const TTimer* a, const TTimer* b) const;
    void Place(size_t index, TTimer* timer);
    void SiftUp(size_t index);
    void SiftDown(size_t index);
    void RemoveFromHeap(TTimer& timer);
    void Erase(std::unordered_map<int, TTimer>::iterator at);

    // Nodes of an unordered_map stay where they are, so the heap may point at them.
    std::unordered_map<int, TTimer> m_timers;
    std::vector<TTimer*> m_heap;
    uint64_t m_nextOrder = 0;
};
