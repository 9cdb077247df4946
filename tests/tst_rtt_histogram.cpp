// The round-trip histogram against the exact figures of the same samples:
// count, min, max and sum exact, percentiles within 1 % of the nearest rank.
#include "base/percentile.h"
#include "base/rtt_histogram.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr double kPercentiles[] = {0.1, 1, 10, 25, 50, 75, 90, 99, 99.9, 100};

QList<double> Drawn(int n, const std::function<double(std::mt19937_64&)>& draw) {
    std::mt19937_64 random(20240611);
    QList<double> samples;
    for (int i = 0; i < n; ++i)
        samples.append(draw(random));
    return samples;
}

double Uniform(std::mt19937_64& random, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
}

TRttHistogram HistogramOf(const QList<double>& samples) {
    TRttHistogram histogram;
    for (double ms : samples)
        histogram.Add(ms);
    return histogram;
}

} // namespace

class TestRttHistogram : public QObject {
    Q_OBJECT

private slots:
    void matchesExactRanks_data();
    void matchesExactRanks();
    void emptyReportsZero();
    void countersOutgrow32Bits();
    void memory_data();
    void memory();
};

void TestRttHistogram::matchesExactRanks_data() {
    QTest::addColumn<QList<double>>("samples");
    QTest::newRow("uniform 0.2 to 20 ms")
        << Drawn(20000, [](auto& random) { return Uniform(random, 0.2, 20); });
    QTest::newRow("bimodal 1 ms and 40 ms") << Drawn(20000, [](auto& random) {
        return random() % 3 ? Uniform(random, 0.8, 1.2) : Uniform(random, 35, 45);
    });
    QTest::newRow("heavy tail") << Drawn(
        20000, [](auto& random) { return 0.5 / std::pow(Uniform(random, 1e-6, 1), 1 / 1.2); });
    QTest::newRow("one value") << QList<double>(500, 3.7);
    QList<double> edges;
    for (int octave = -10; octave < 22; ++octave)
        for (int sub : {0, 1, 31, 63, 64})
            edges << std::ldexp(1 + sub / 64.0, octave) << std::ldexp(1 + sub / 64.0, octave);
    QTest::newRow("bucket edges") << edges;
    QTest::newRow("sub-millisecond")
        << Drawn(20000, [](auto& random) { return Uniform(random, 0.005, 0.9); });
    QTest::newRow("around 60 s") << Drawn(
        5000, [](auto& random) { return Uniform(random, 55000, 65000); });
    QList<double> zeros(300, 0.0);
    zeros << -3 << std::nan("") << -0.0 << 1 << 2 << 4 << 8;
    QTest::newRow("zero, negative and NaN taken as 0") << zeros;
}

void TestRttHistogram::matchesExactRanks() {
    QFETCH(QList<double>, samples);
    const TRttHistogram histogram = HistogramOf(samples);
    std::vector<double> sorted;
    double sum = 0;
    for (double ms : samples) {
        sorted.push_back(ms > 0 ? ms : 0);
        sum += sorted.back();
    }
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(histogram.Count(), uint64_t(sorted.size()));
    QCOMPARE(histogram.MinMs(), sorted.front());
    QCOMPARE(histogram.MaxMs(), sorted.back());
    QCOMPARE(histogram.SumMs(), sum);
    QCOMPARE(histogram.MeanMs(), sum / double(sorted.size()));
    for (double p : kPercentiles) {
        const double exact = NearestRank(sorted, p / 100);
        const double told = histogram.PercentileMs(p);
        QVERIFY2(std::abs(told - exact) <= 0.01 * exact,
                 qPrintable(QString("p%1: %2 for %3").arg(p).arg(told).arg(exact)));
    }
    const auto atMost = [&](double ms) {
        return uint64_t(std::upper_bound(sorted.begin(), sorted.end(), ms) - sorted.begin());
    };
    for (double ms : {sorted.front() / 2, sorted[sorted.size() / 4], sorted[sorted.size() / 2],
                      sorted.back() / 3, sorted.back()}) {
        const uint64_t counted = histogram.CountAtMost(ms);
        QVERIFY2(atMost(ms) <= counted && counted <= atMost(ms * (1 + 1 / 64.0)),
                 qPrintable(QString("at most %1: %2 for %3").arg(ms).arg(counted).arg(atMost(ms))));
    }
    // Two halves merged tell what the whole does.
    TRttHistogram merged = HistogramOf(samples.mid(0, samples.size() / 2));
    merged.Merge(HistogramOf(samples.mid(samples.size() / 2)));
    QCOMPARE(merged.Count(), histogram.Count());
    QCOMPARE(merged.MinMs(), histogram.MinMs());
    QCOMPARE(merged.MaxMs(), histogram.MaxMs());
    for (double p : kPercentiles)
        QCOMPARE(merged.PercentileMs(p), histogram.PercentileMs(p));
}

void TestRttHistogram::emptyReportsZero() {
    TRttHistogram empty;
    const TRttHistogram copy = empty;
    empty.Merge(copy);
    QCOMPARE(empty.Count(), uint64_t(0));
    for (double figure : {empty.MinMs(), empty.MaxMs(), empty.MeanMs(), empty.SumMs(),
                          empty.PercentileMs(50), double(empty.CountAtMost(1e9))})
        QCOMPARE(figure, 0.0);
}

void TestRttHistogram::countersOutgrow32Bits() {
    TRttHistogram histogram;
    for (double ms : {1.0, 1.0, 1.0, 30.0})
        histogram.Add(ms);
    const TRttHistogram before = histogram;
    // Each merge into itself doubles every count: 2^31 samples in one bucket
    // after 29, 2^33 after 31.
    for (int i = 0; i < 31; ++i)
        histogram.Merge(histogram);
    QCOMPARE(histogram.Count(), uint64_t(1) << 33);
    QCOMPARE(histogram.CountAtMost(1.0), uint64_t(3) << 31);
    QCOMPARE(histogram.PercentileMs(75), before.PercentileMs(75));
    QCOMPARE(histogram.PercentileMs(76), before.PercentileMs(76));
    QCOMPARE(histogram.MeanMs(), before.MeanMs());
    // Outside (0, 100] a percentile is the nearest end.
    QCOMPARE(histogram.PercentileMs(std::nan("")), 1.0);
    QCOMPARE(histogram.PercentileMs(-5), 1.0);
    QCOMPARE(histogram.PercentileMs(250), 30.0);
}

void TestRttHistogram::memory_data() {
    QTest::addColumn<double>("lowMs");
    QTest::addColumn<double>("highMs");
    QTest::newRow("one octave") << 2.1 << 3.9;
    QTest::newRow("two octaves") << 0.6 << 1.9;
    QTest::newRow("every octave") << 0.0005 << 5e6;
}

void TestRttHistogram::memory() {
    QFETCH(double, lowMs);
    QFETCH(double, highMs);
    TRttHistogram histogram;
    histogram.Add(lowMs);
    // What the first sample took is all it ever holds, whatever comes next.
    const size_t first = histogram.MemoryBytes();
    // Geometric steps, so that every octave between gets its share.
    for (int i = 0; i <= 100000; ++i)
        histogram.Add(lowMs * std::pow(highMs / lowMs, i / 100000.0));
    QCOMPARE(histogram.MemoryBytes(), first);
    QVERIFY2(first <= 8 * 1024 + 100, qPrintable(QString::number(first)));
    // No samples, no counters; merging samples in takes them and keeps every rank.
    TRttHistogram merged;
    merged.Merge(TRttHistogram());
    QCOMPARE(merged.MemoryBytes(), sizeof(TRttHistogram));
    merged.Merge(histogram);
    QCOMPARE(merged.MemoryBytes(), first);
    for (double p : kPercentiles)
        QCOMPARE(merged.PercentileMs(p), histogram.PercentileMs(p));
}

QTEST_GUILESS_MAIN(TestRttHistogram)
#include "tst_rtt_histogram.moc"
