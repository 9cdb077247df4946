#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// The round trips of one item in a histogram whose size does not grow with
// the number of samples. Log-linear buckets: each power-of-two octave of
// milliseconds from 2^-10 ms (about 1 us) up to 2^22 ms (about 70 minutes) is
// cut into 64 equal buckets, so a bucket is at most 1/64 of its values wide
// and its middle lies within 0.8 % of each of them. Values under the lowest
// octave (0 included) share one bucket told as the smallest value; values
// past the highest go into its last bucket. Count, sum, min and max are kept
// exactly.
//
// The counters of every octave are allocated together with the first
// sample, 32 bits each until one would overflow, then 64 bits for all: 8 KiB
// from then on, whatever the samples, so a histogram that watches for months
// never grows (and one that never got a sample costs none).
class TRttHistogram {
public:
    TRttHistogram() = default;
    TRttHistogram(const TRttHistogram& other);
    TRttHistogram& operator=(const TRttHistogram& other);
    TRttHistogram(TRttHistogram&&) noexcept = default;
    TRttHistogram& operator=(TRttHistogram&&) noexcept = default;
    ~TRttHistogram() = default;

    // A round trip in milliseconds; a negative one (or NaN) is taken as 0.
    void Add(double ms);
    // Adds the samples of other, which may be this histogram itself.
    void Merge(const TRttHistogram& other);

    uint64_t Count() const { return m_count; }
    // Exact; 0 when empty.
    double MinMs() const { return m_min; }
    double MaxMs() const { return m_max; }
    double MeanMs() const { return m_count ? m_sum / double(m_count) : 0; }
    double SumMs() const { return m_sum; }
    // The nearest-rank percentile (p in (0, 100]; clamped there) within 1 %:
    // the middle of the bucket that holds it, kept within min and max; the
    // lowest and highest ranks are exact. 0 when empty.
    double PercentileMs(double p) const;
    // Round trips of at most ms, counting the whole bucket ms falls in
    // (exact below the smallest and from the largest on).
    uint64_t CountAtMost(double ms) const;
    // Bytes this histogram holds, itself included (the allocator's own
    // overhead not).
    size_t MemoryBytes() const;

private:
    static constexpr int kLowestOctave = -10; // 2^-10 ms
    static constexpr int kOctaves = 32;       // one bit each in m_octaves
    static constexpr int kSubBuckets = 64;    // per octave

    struct TBucket {
        int octave; // from the lowest; -1: under it
        int sub;
    };
    static TBucket BucketOf(double ms);
    // Calls visit(lower edge ms, upper edge ms, count) for every bucket with
    // samples, in ascending order, until it returns false.
    void VisitBuckets(const std::function<bool(double, double, uint64_t)>& visit) const;
    static size_t CounterIndex(int octave, int sub) { return size_t(octave * kSubBuckets + sub); }
    uint64_t Counter(size_t index) const;
    void AddToCounter(size_t index, uint64_t n);
    void AllocateCounters();
    void Widen();
    size_t CounterWords() const;

    uint64_t m_count = 0;
    uint64_t m_below = 0; // samples under the lowest octave
    double m_sum = 0;
    double m_min = 0;
    double m_max = 0;
    bool m_wide = false; // counters are 64 bits, in two words each
    // Every octave's counters, lowest octave first, kSubBuckets each; none
    // before the first sample.
    std::unique_ptr<uint32_t[]> m_counters;
};
