#pragma once

#include "base/exceptions.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QString>

#include <optional>

// The checks file of a definition: NAME.checks.toml beside NAME.tst (a name
// without the ".tst" suffix gets ".checks.toml" appended whole).
QString ChecksFileOf(const QString& definitionFile);

// The largest checks file read; one holds a few lines per item.
inline constexpr qint64 kMaxChecksBytes = 1024 * 1024;

// A checks file that cannot be used. The message reads
// "<file>:<line>:<column>: <what is wrong>"; line and column count from 1
// (0 when the fault has no place, such as a file too large).
class EChecksError : public Exception {
public:
    EChecksError(const QString& fileName, int line, int column, const QByteArray& what);
};

// The verdict on one reply. `why` holds the first reason a failing reply
// fails, in words ("72.5 above max 60"); it is empty otherwise.
struct TVerdict {
    enum class TOutcome { Unchecked, Pass, Fail };
    TOutcome outcome = TOutcome::Unchecked;
    QByteArray why;
};

// What the replies of items with one label must be.
//
// Replies, `equals` and labels are compared byte for byte. A `match` pattern
// sees the reply one byte per character (Latin-1), and its own UTF-8 text the
// same way: a reply matches whatever bytes it holds, invalid UTF-8 included,
// and a non-ASCII character in a pattern matches its UTF-8 bytes; `.` and
// character classes take one byte, "\xB0" is the byte B0. The pattern must
// cover the whole reply. Every match runs under PCRE2 limits, the match limit
// shrinking as the reply grows, and fails with "check too costly" when it
// hits one: a check holds the loop for milliseconds at most.
class TReplyChecks {
public:
    // No checks: every reply is unchecked.
    TReplyChecks() = default;

    // Reads a checks file; `labels` are the definition's item labels, which
    // the file's tables must name. Throws EFOpenError when the file cannot be
    // read and EChecksError when it cannot be used; nothing of a refused file
    // is kept.
    static TReplyChecks Read(const QString& fileName, const QList<QByteArray>& labels);
    // The same for the file's text; `fileName` only names it in messages.
    static TReplyChecks Parse(const QByteArray& text, const QString& fileName,
                              const QList<QByteArray>& labels);

    // Judges the reply of an item labelled `label`, `rttMs` milliseconds
    // after its command went out. The keys are tried in the order equals,
    // match, min, max, max_rtt_ms; the first that does not hold gives `why`.
    TVerdict Judge(const QByteArray& label, const QByteArray& reply, double rttMs) const;
    // Whether replies of items labelled `label` are judged at all.
    bool Has(const QByteArray& label) const { return m_checks.contains(label); }

private:
    friend class TChecksParser;
    struct TCheck {
        std::optional<QByteArray> equals;
        std::optional<QByteArray> pattern; // as written
        int captureCount = 0;
        // The pattern as it runs, by match limit, made when first needed.
        mutable QHash<int, QRegularExpression> matchers;
        std::optional<double> min, max, maxRttMs;
        QByteArray minText, maxText, maxRttText; // as the messages show them
    };
    static std::optional<QByteArray> Failure(const TCheck& check, const QByteArray& reply,
                                             double rttMs);

    QHash<QByteArray, TCheck> m_checks;
};
