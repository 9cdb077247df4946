#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QJsonObject>

#include <array>
#include <cstddef>
#include <cstdint>

// A length of time in seconds, as "1.5 s".
QByteArray SecondsText(int64_t ms);

// The last N things added, in storage that never grows past N, and how many
// were added in all: a run of months keeps the recent ones and a count.
template <typename T, size_t N> class TLastOf {
public:
    void Add(T value) {
        m_items[m_added % N] = std::move(value);
        ++m_added;
    }
    uint64_t Added() const { return m_added; }
    size_t Size() const { return m_added < N ? size_t(m_added) : N; }
    // The i-th kept one, oldest first.
    const T& operator[](size_t i) const { return m_items[(m_added - Size() + i) % N]; }
    T& Latest() { return m_items[(m_added - 1) % N]; }

private:
    std::array<T, N> m_items{};
    uint64_t m_added = 0;
};

// A time the connection was down: from its loss (or a dialling that failed)
// until a connection was made again.
struct TOutage {
    QDateTime time; // UTC, when it began
    QByteArray reason;
    int64_t downMs = -1; // -1: not over
};

// Something that went wrong at an item, or with the connection.
struct TFailureNote {
    QDateTime time;  // UTC
    QByteArray item; // the label; empty: the connection
    QByteArray reason;
};

// A controller's outages and failures over a run: counts, the time it was
// down, and the last kKept of each.
class TOutageLog {
public:
    static constexpr size_t kKept = 10;

    // An outage begins at sinceStartMs (of the run's clock); false when one
    // was under way already (a dialling that failed again).
    bool Began(const QDateTime& time, int64_t sinceStartMs, const QByteArray& reason);
    // The outage under way ended; its length.
    int64_t Ended(int64_t sinceStartMs);
    void Failed(const QDateTime& time, const QByteArray& item, const QByteArray& reason);
    // The run ended at sinceStartMs: an outage under way counts until then.
    void RunEnded(int64_t sinceStartMs);

    bool Down() const { return m_downSinceMs >= 0; }
    uint64_t Outages() const { return m_outages.Added(); }
    // Over the outages that ended (and, once the run ended, the one under way).
    int64_t DownMs() const { return m_downMs; }
    const TLastOf<TOutage, kKept>& LastOutages() const { return m_outages; }
    const TLastOf<TFailureNote, kKept>& LastFailures() const { return m_failures; }

private:
    TLastOf<TOutage, kKept> m_outages;
    TLastOf<TFailureNote, kKept> m_failures;
    int64_t m_downMs = 0;       // of the outages that ended
    int64_t m_downSinceMs = -1; // -1: up
};

// The outage fields of a controller's JSON summary: outages, down_ms,
// last_outages and last_failures.
void AddOutageJson(QJsonObject& summary, const TOutageLog& log);
// The same as lines of text; none when nothing went wrong.
QByteArrayList OutageLines(const TOutageLog& log);
// The "connection" test case's details: the last outages and how many more.
QByteArrayList OutageDetails(const TOutageLog& log);
