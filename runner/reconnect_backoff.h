#pragma once

#include <cstdint>

// How long to wait before dialling again a controller whose connection could
// not be made, was lost or was given up: 1 s after the first failure, 1.6
// times longer after each further one, spread by +-20 % so that controllers
// lost together do not all come back in step, never more than a maximum;
// back to 1 s once a connection has held for a minute. The caller hands in
// the time and the random draw, so no clock or generator hides in here.
class TReconnectBackoff {
public:
    static constexpr int kFirstMs = 1000;
    static constexpr double kGrowth = 1.6;
    static constexpr double kJitter = 0.2;    // of the wait, either way
    static constexpr int64_t kHeldMs = 60000; // a connection this old starts over
    static constexpr int kDefaultMaxMs = 60000;

    // maxMs at least 1.
    explicit TReconnectBackoff(int maxMs = kDefaultMaxMs) : m_maxMs(maxMs) {}

    // A connection was made at nowMs (of any monotonic clock, in ms).
    void Connected(int64_t nowMs);
    // A failure at nowMs; draw is uniform in [0, 1). Returns the ms to wait
    // before the next dial, from 1 to the maximum.
    int Failed(int64_t nowMs, double draw);
    // Failures since a connection was last made: the dials an outage took.
    int Failures() const { return m_failures; }

private:
    int m_maxMs;
    double m_stepMs = kFirstMs; // the next wait before jitter
    int64_t m_connectedMs = -1; // -1: no connection since the last failure
    int m_failures = 0;
};
