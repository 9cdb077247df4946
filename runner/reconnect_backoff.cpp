#include "runner/reconnect_backoff.h"

#include <algorithm>
#include <cmath>

void TReconnectBackoff::Connected(int64_t nowMs) {
    m_connectedMs = nowMs;
    m_failures = 0;
}

int TReconnectBackoff::Failed(int64_t nowMs, double draw) {
    // A connection that held a minute was no part of the failures before it.
    if (m_connectedMs >= 0 && nowMs - m_connectedMs >= kHeldMs)
        m_stepMs = kFirstMs;
    m_connectedMs = -1;
    ++m_failures;
    const double waitMs = m_stepMs * (1 - kJitter + 2 * kJitter * std::clamp(draw, 0.0, 1.0));
    m_stepMs = std::min(m_stepMs * kGrowth, double(m_maxMs));
    return int(std::clamp<long>(std::lround(waitMs), 1, m_maxMs));
}
