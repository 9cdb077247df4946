#include "base/rtt_histogram.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

TRttHistogram::TRttHistogram(const TRttHistogram& other)
    : m_count(other.m_count), m_below(other.m_below), m_sum(other.m_sum), m_min(other.m_min),
      m_max(other.m_max), m_wide(other.m_wide) {
    if (const size_t words = other.CounterWords()) {
        m_counters = std::make_unique<uint32_t[]>(words);
        std::copy_n(other.m_counters.get(), words, m_counters.get());
    }
}

TRttHistogram& TRttHistogram::operator=(const TRttHistogram& other) {
    if (this != &other)
        *this = TRttHistogram(other);
    return *this;
}

void TRttHistogram::Add(double ms) {
    if (!(ms > 0))
        ms = 0;
    m_min = m_count ? std::min(m_min, ms) : ms;
    m_max = m_count ? std::max(m_max, ms) : ms;
    ++m_count;
    m_sum += ms;
    if (!m_counters)
        AllocateCounters();
    const TBucket bucket = BucketOf(ms);
    if (bucket.octave < 0) {
        ++m_below;
        return;
    }
    AddToCounter(CounterIndex(bucket.octave, bucket.sub), 1);
}

void TRttHistogram::Merge(const TRttHistogram& other) {
    if (!other.m_count)
        return;
    m_min = m_count ? std::min(m_min, other.m_min) : other.m_min;
    m_max = m_count ? std::max(m_max, other.m_max) : other.m_max;
    m_count += other.m_count;
    m_sum += other.m_sum;
    m_below += other.m_below;
    if (!other.m_counters)
        return;
    if (!m_counters)
        AllocateCounters();
    // Read before writing: other may be this histogram.
    for (size_t index = 0; index < size_t(kOctaves * kSubBuckets); ++index)
        AddToCounter(index, other.Counter(index));
}

double TRttHistogram::PercentileMs(double p) const {
    if (!m_count)
        return 0;
    // Written so that a NaN p, too, is the lowest rank.
    const double share = p > 0 ? std::min(p, 100.0) / 100 : 0;
    const uint64_t rank =
        std::clamp<uint64_t>(uint64_t(std::ceil(share * double(m_count))), 1, m_count);
    if (rank == 1)
        return m_min;
    if (rank == m_count)
        return m_max;
    uint64_t seen = 0;
    double found = m_max;
    VisitBuckets([&](double lower, double upper, uint64_t n) {
        seen += n;
        if (seen < rank)
            return true;
        found = (lower + upper) / 2;
        return false;
    });
    return std::clamp(found, m_min, m_max);
}

uint64_t TRttHistogram::CountAtMost(double ms) const {
    if (!m_count || ms < m_min)
        return 0;
    if (ms >= m_max)
        return m_count;
    uint64_t seen = 0;
    VisitBuckets([&](double lower, double, uint64_t n) {
        if (lower > ms)
            return false;
        seen += n;
        return true;
    });
    return seen;
}

size_t TRttHistogram::MemoryBytes() const {
    return sizeof(*this) + CounterWords() * sizeof(uint32_t);
}

TRttHistogram::TBucket TRttHistogram::BucketOf(double ms) {
    // From the bits of the double: its exponent is the octave, the top bits
    // of its fraction the exact position inside it (ms is not negative).
    constexpr int kFractionBits = 52;
    constexpr int kExponentBias = 1023;
    constexpr int kSubBits = 6;
    static_assert(kSubBuckets == 1 << kSubBits);
    uint64_t bits;
    std::memcpy(&bits, &ms, sizeof bits);
    const int octave = int(bits >> kFractionBits) - kExponentBias - kLowestOctave;
    if (octave < 0)
        return {-1, 0};
    if (octave >= kOctaves) // infinity among them
        return {kOctaves - 1, kSubBuckets - 1};
    return {octave, int(bits >> (kFractionBits - kSubBits)) & (kSubBuckets - 1)};
}

void TRttHistogram::VisitBuckets(const std::function<bool(double, double, uint64_t)>& visit) const {
    // The values under the lowest octave are told as the smallest of them.
    if (m_below && !visit(m_min, m_min, m_below))
        return;
    if (!m_counters)
        return;
    for (int octave = 0; octave < kOctaves; ++octave) {
        for (int sub = 0; sub < kSubBuckets; ++sub) {
            const uint64_t n = Counter(CounterIndex(octave, sub));
            const int exponent = kLowestOctave + octave;
            if (n && !visit(std::ldexp(1 + double(sub) / kSubBuckets, exponent),
                            std::ldexp(1 + double(sub + 1) / kSubBuckets, exponent), n))
                return;
        }
    }
}

uint64_t TRttHistogram::Counter(size_t index) const {
    if (!m_wide)
        return m_counters[index];
    uint64_t n;
    std::memcpy(&n, &m_counters[2 * index], sizeof n);
    return n;
}

void TRttHistogram::AddToCounter(size_t index, uint64_t n) {
    const uint64_t sum = Counter(index) + n;
    if (!m_wide && sum > std::numeric_limits<uint32_t>::max())
        Widen();
    if (m_wide)
        std::memcpy(&m_counters[2 * index], &sum, sizeof sum);
    else
        m_counters[index] = uint32_t(sum);
}

void TRttHistogram::AllocateCounters() {
    m_counters = std::make_unique<uint32_t[]>(size_t(kOctaves * kSubBuckets)); // zeroed
}

void TRttHistogram::Widen() {
    const size_t counters = CounterWords();
    auto wide = std::make_unique<uint32_t[]>(2 * counters);
    for (size_t i = 0; i < counters; ++i) {
        const uint64_t n = m_counters[i];
        std::memcpy(&wide[2 * i], &n, sizeof n);
    }
    m_counters = std::move(wide);
    m_wide = true;
}

size_t TRttHistogram::CounterWords() const {
    return m_counters ? size_t(kOctaves * kSubBuckets) * (m_wide ? 2 : 1) : 0;
}
