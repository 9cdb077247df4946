// A checks file and a reply: the text up to the first NUL is the file, the
// rest the reply. Reading must accept or refuse with EChecksError, the same
// way twice, and an accepted file must give the same verdicts on a second
// reading and a second judging, a failure always with its reason.
#include "fuzz_check.h"
#include "sequencing/reply_checks.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <optional>

namespace {

const QList<QByteArray> kLabels = {"a", "b", "Read Temp", ""};

// The checks, or the message refusing them.
std::optional<TReplyChecks> Read(const QByteArray& text, QByteArray* refusal) {
    try {
        return TReplyChecks::Parse(text, QStringLiteral("fuzz.toml"), kLabels);
    } catch (const EChecksError& error) {
        *refusal = error.Message();
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QByteArray text = nul < 0 ? input : input.left(nul);
    const QByteArray reply = nul < 0 ? QByteArray() : input.mid(nul + 1);

    QByteArray firstRefusal, secondRefusal;
    const std::optional<TReplyChecks> first = Read(text, &firstRefusal);
    const std::optional<TReplyChecks> second = Read(text, &secondRefusal);
    FUZZ_CHECK(first.has_value() == second.has_value());
    FUZZ_CHECK(firstRefusal == secondRefusal);
    if (!first)
        return 0;
    for (const QByteArray& label : kLabels) {
        for (const double rttMs : {0.0, 1e9}) {
            const TVerdict verdict = first->Judge(label, reply, rttMs);
            const TVerdict again = first->Judge(label, reply, rttMs);
            const TVerdict other = second->Judge(label, reply, rttMs);
            FUZZ_CHECK(verdict.outcome == again.outcome && verdict.why == again.why);
            FUZZ_CHECK(verdict.outcome == other.outcome && verdict.why == other.why);
            FUZZ_CHECK(verdict.why.isEmpty() == (verdict.outcome != TVerdict::TOutcome::Fail));
        }
    }
    return 0;
}
