#pragma once

#include "sequencing/reply_record.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <cstdint>
#include <vector>

// Where a controller's connection stands. Connecting is its first dialling;
// Down lasts from a loss (or a failed first dialling) until a connection
// holds again, redialling included; GivenUp is for good.
enum class TControllerState { Connecting, Up, Down, GivenUp };

// One item of one controller, as its latest reply left it.
struct TItemView {
    QByteArray label;
    bool checked = false; // the checks file has a check for the label
    QByteArray reply;     // the latest reply, byte for byte
    TVerdict verdict;     // on the latest reply; Unchecked before the first
    uint64_t checkFailures = 0;
    double lastRttMs = -1; // -1: no reply yet
};

// The latest thing that went wrong with a controller.
struct TFailureView {
    qint64 timeMs = 0; // wall clock, ms since the epoch; 0: nothing went wrong
    QByteArray item;   // the label of the item it happened at; empty: the connection
    QByteArray reason;
};

// Round trips counted at fixed upper bounds, as Prometheus histograms name
// them, with their count, sum and slowest: exact at every bound and cheap to
// read at each scrape, and the same few words however many replies came.
class TRttBuckets {
public:
    // Upper bounds in ms: from a reply on the same switch to one that took
    // the reply timeout and more.
    static constexpr std::array<double, 13> kBoundsMs{1,   2.5, 5,    10,   25,   50,   100,
                                                      250, 500, 1000, 2500, 5000, 10000};
    // A negative round trip (or NaN) is taken as 0.
    void Add(double ms);
    // Round trips of at most kBoundsMs[bound] ms.
    uint64_t AtMost(size_t bound) const;
    uint64_t Count() const { return m_count; }
    double SumMs() const { return m_sumMs; }
    // -1 before the first.
    double SlowestMs() const { return m_count > 0 ? m_slowestMs : -1; }

private:
    // Each bound's round trips above the bound before it: a reply adds to one.
    std::array<uint64_t, kBoundsMs.size()> m_counts{};
    uint64_t m_count = 0;
    double m_sumMs = 0;
    double m_slowestMs = 0;
};

// One controller as the tools that watch a site see it. Counters only grow.
struct TControllerView {
    QByteArray controller; // "address:port"
    TControllerState state = TControllerState::Connecting;
    qint64 stateSinceMs = 0; // wall clock, ms since the epoch
    uint64_t replies = 0;
    uint64_t resends = 0;
    uint64_t lateReplies = 0;
    uint64_t unsolicitedBytes = 0;
    uint64_t outages = 0;
    qint64 lastReplyMs = 0; // wall clock, ms since the epoch; 0: none yet
    TRttBuckets rtt;        // every reply's round trip, whatever its item
    TFailureView lastFailure;
    std::vector<TItemView> items; // in the definition's order

    bool Failing() const;
    // When the controller last changed state or failed, whichever is later.
    qint64 ChangedMs() const;
};

// One item over all controllers.
struct TFleetItemView {
    QByteArray label;
    TRttBuckets rtt;
};

// What the item list of a run is made of.
struct TItemSpec {
    QByteArray label;
    bool checked = false;
};

// Every controller of a run and what they got, as plain data that the run
// updates as things happen and the reports (metrics, status page) read when
// asked. Controllers and items are addressed by their place in the lists
// the view was made from; the lists never change.
class TFleetView {
public:
    TFleetView(QByteArray name, const QList<QByteArray>& controllers, const QList<TItemSpec>& items,
               qint64 startedMs);

    // The new state from nowMs on. Entering Down or GivenUp from Connecting
    // or Up starts an outage; redialling while Down does not start another.
    void SetState(size_t controller, TControllerState state, qint64 nowMs);
    // A complete reply of an item: its counts, round trip and verdict.
    void AddReply(size_t controller, size_t item, const TReplyRecord& record);
    // A reply that came after its command was given up on or sent again.
    void AddLateReply(size_t controller) { ++m_controllers[controller].lateReplies; }
    void AddUnsolicited(size_t controller, uint64_t bytes);
    // Something went wrong; item is empty for the connection itself.
    void AddFailure(size_t controller, qint64 nowMs, const QByteArray& item,
                    const QByteArray& reason);

    const QByteArray& Name() const { return m_name; }
    qint64 StartedMs() const { return m_startedMs; }
    const std::vector<TControllerView>& Controllers() const { return m_controllers; }
    const std::vector<TFleetItemView>& Items() const { return m_items; }

private:
    QByteArray m_name; // the definition's, as the reports title the run
    qint64 m_startedMs;
    std::vector<TControllerView> m_controllers;
    std::vector<TFleetItemView> m_items;
};
