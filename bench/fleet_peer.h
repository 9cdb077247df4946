#pragma once

// The controllers of the fleet benchmark: one thread of the bench with one
// epoll set, listening on 127.0.0.1 at a free port, answering every command
// ending in "]" at once with a fixed reply. Lighter than controller-sim, so
// that at ten thousand connections the measured program, not the peer, is
// what runs out of CPU.
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// What the peer saw of one run. "Steady" is from the moment the last expected
// connection was accepted: the connect phase's crowd would blur the cycle.
struct TPeerFigures {
    int accepted = 0;
    int64_t allConnectedNs = 0; // NowNs(); 0: fewer connections came than expected
    int64_t replies = 0;
    // Per steady reply: from its last byte written to the next command's
    // arrival on the same connection.
    std::vector<float> gapMs;
    // The same less the wait the cycle must keep: 100 ms after the reply, or
    // the interval after the previous command, whichever ends later.
    std::vector<float> lateMs;
    double cpuSeconds = 0; // the peer thread's own
    // Reboots: the connections they dropped, and per connection accepted
    // after one, from listening again to its first reply.
    int dropped = 0;
    std::vector<float> backMs;
};

class TFleetPeer {
public:
    // Listens at once; `controllers` is the count that makes the run steady.
    TFleetPeer(int controllers, double intervalSeconds);
    ~TFleetPeer();
    TFleetPeer(const TFleetPeer&) = delete;
    TFleetPeer& operator=(const TFleetPeer&) = delete;

    // 0 when it could not listen.
    uint16_t Port() const { return m_port; }
    // While it serves, for the bench's samples.
    int Accepted() const { return m_accepted.load(std::memory_order_relaxed); }
    int64_t Replies() const { return m_replies.load(std::memory_order_relaxed); }
    // Reboots it as a controller does: drops every connection (closing one
    // and resetting the next), refuses new ones for awayNs, then listens again
    // on the same port.
    void Reboot(int64_t awayNs) { m_rebootAwayNs.store(awayNs, std::memory_order_relaxed); }
    // Ends the thread, closes every socket, and hands over the figures.
    TPeerFigures Stop();

private:
    struct TConnection {
        int fd = -1;
        int64_t commandNs = 0, replyNs = 0;
    };

    bool Listen(uint16_t port);
    void Serve();
    void Reboots(int64_t nowNs);
    void Accept(int64_t nowNs);
    void Answer(TConnection& connection);
    void Close(TConnection& connection);

    const int m_expected;
    const int64_t m_intervalNs;
    int m_listener = -1, m_epoll = -1;
    uint16_t m_port = 0;
    int64_t m_backNs = 0;                   // NowNs() to listen again at; 0: listening
    int64_t m_listenedNs = 0;               // NowNs() when it listened again; 0: never did
    std::vector<TConnection> m_connections; // epoll's data is the index
    TPeerFigures m_figures;
    std::atomic<int> m_accepted{0};
    std::atomic<int64_t> m_replies{0};
    std::atomic<bool> m_stop{false};
    std::atomic<int64_t> m_rebootAwayNs{0}; // a reboot asked for, away this long
    std::thread m_thread;
};
