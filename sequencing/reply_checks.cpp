#include "sequencing/reply_checks.h"

#include "sequencing/definition_file.h"
#include "sequencing/toml_characters.h"
#include "sequencing/toml_tables.h"

#include <QFile>
#include <QLocale>

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

// PCRE2 counts backtracking steps against a match limit, but one step may
// scan the whole reply (a repeat in a lookahead, a back reference): under a
// fixed limit `(?:(?=a+)a)+$` runs for seconds on a 1 MiB reply. So the limit
// shrinks as the reply grows, keeping steps times reply bytes within one
// budget, a few milliseconds of scanning; replies of a few hundred bytes get
// the full limit. The depth limit bounds the interpreter's memory (it runs
// where JIT does not).
constexpr qint64 kWorkBudget = qint64(1) << 24;
constexpr int kMaxMatchLimit = 1000000;
constexpr int kDepthLimit = 10000;

// The limit for a reply of `bytes`, in steps of powers of two so that a
// check compiles a handful of variants at most.
int MatchLimitFor(qsizetype bytes) {
    int bits = 1;
    while (bits < 62 && (qint64(1) << bits) < bytes)
        ++bits;
    return int(std::clamp<qint64>(kWorkBudget >> bits, 1, kMaxMatchLimit));
}

// Captured text shown in a reason is cut here: a reply may be a megabyte.
constexpr qsizetype kMaxShownBytes = 64;

QByteArray Shown(const QByteArray& text) {
    if (text.isEmpty())
        return "(empty)";
    return text.size() <= kMaxShownBytes ? text : text.left(kMaxShownBytes) + "...";
}

// The shortest text that reads back as the same number: 60, 72.5, 0.1.
QByteArray NumberText(double value) {
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

// A decimal number as a technician writes one, nothing around it.
std::optional<double> ReadNumber(const QByteArray& text) {
    static const QRegularExpression decimal(
        QStringLiteral(R"(\A[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?\z)"));
    if (!decimal.match(QString::fromLatin1(text)).hasMatch())
        return std::nullopt;
    const double value = text.toDouble();
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

// Start-of-pattern items must stay first. The tool's limits follow them:
// PCRE2 takes the last setting of a limit, so a pattern cannot raise its own.
const QRegularExpression& LeadingItems() {
    static const QRegularExpression items(QStringLiteral(
        R"(\A(?:\(\*(?:UTF|UCP|NOTEMPTY(?:_ATSTART)?|NO_AUTO_POSSESS|NO_DOTSTAR_ANCHOR|NO_JIT|)"
        R"(NO_START_OPT|CRLF|CR|LF|ANYCRLF|ANY|NUL|BSR_ANYCRLF|BSR_UNICODE|)"
        R"(LIMIT_(?:HEAP|MATCH|DEPTH|RECURSION)=\d+)\))*)"));
    return items;
}

// The pattern as run: its start-of-pattern items, the limits, and the rest
// anchored to the whole reply.
QRegularExpression LimitedWholePattern(const QString& pattern, int matchLimit) {
    const qsizetype lead = LeadingItems().match(pattern).capturedLength();
    return QRegularExpression(pattern.left(lead) +
                              QStringLiteral("(*LIMIT_MATCH=%1)(*LIMIT_DEPTH=%2)\\A(?:")
                                  .arg(matchLimit)
                                  .arg(kDepthLimit) +
                              pattern.mid(lead) + QStringLiteral(")\\z"));
}

const char* TypeName(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::string:
        return "text";
    case toml::node_type::integer:
    case toml::node_type::floating_point:
        return "a number";
    case toml::node_type::boolean:
        return "true or false";
    case toml::node_type::table:
        return "a table";
    case toml::node_type::array:
        return "a list";
    default:
        return "a date or time";
    }
}

QByteArray Quoted(const QByteArray& text) {
    return '"' + text + '"';
}

} // namespace

// Builds the checks from a parsed file, refusing at the first fault in file
// order.
class TChecksParser {
public:
    TChecksParser(const QString& fileName, const QList<QByteArray>& labels)
        : m_fileName(fileName), m_labels(labels) {}

    QHash<QByteArray, TReplyChecks::TCheck> Parse(const QByteArray& text) {
        std::pair<int, int> clash{0, 0};
        const QByteArray moved = MoveMisread(text, &clash);
        if (clash.first)
            throw EChecksError(m_fileName, clash.first, clash.second,
                               "private-use characters U+F0000 to U+FFEFF are not allowed");
        toml::table root;
        try {
            root = toml::parse(std::string_view(moved.constData(), size_t(moved.size())));
        } catch (const toml::parse_error& error) {
            const int line = int(error.source().begin.line);
            if (const auto twice = TableGivenTwice(moved, line))
                Refuse(error.source(), Quoted(MovedBack(twice->name)) +
                                           " is given twice, at lines " +
                                           QByteArray::number(twice->firstLine) + " and " +
                                           QByteArray::number(line));
            Refuse(error.source(), "TOML syntax: " + MovedBack(error.description()));
        }
        QHash<QByteArray, TReplyChecks::TCheck> checks;
        for (const auto& [key, node] : InFileOrder(root)) {
            const QByteArray label = MovedBack(key->str());
            if (!m_labels.contains(label))
                Refuse(key->source(), "no item of the definition is labelled " + Quoted(label));
            const toml::table* table = node->as_table();
            if (!table)
                Refuse(node->source(),
                       Quoted(label) + " must be a table of checks, not " + TypeName(*node));
            checks.insert(label, Check(*table));
        }
        return checks;
    }

private:
    using TEntry = std::pair<const toml::key*, const toml::node*>;

    // A table's entries by their place in the file (toml++ sorts by name).
    static std::vector<TEntry> InFileOrder(const toml::table& table) {
        std::vector<TEntry> entries;
        for (const auto& [key, node] : table)
            entries.emplace_back(&key, &node);
        std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
            const toml::source_position& pa = a.first->source().begin;
            const toml::source_position& pb = b.first->source().begin;
            return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
        });
        return entries;
    }

    TReplyChecks::TCheck Check(const toml::table& table) const {
        TReplyChecks::TCheck check;
        const toml::node* boundNode = nullptr;
        for (const auto& [key, node] : InFileOrder(table)) {
            const std::string_view name = key->str();
            if (name == "equals") {
                check.equals = Text(*node, "equals");
            } else if (name == "match") {
                check.pattern = Text(*node, "match");
                check.captureCount = Compile(*check.pattern, *node);
            } else if (name == "min") {
                check.min = Number(*node, "min", &check.minText);
                boundNode = node;
            } else if (name == "max") {
                check.max = Number(*node, "max", &check.maxText);
                boundNode = node;
            } else if (name == "max_rtt_ms") {
                check.maxRttMs = Number(*node, "max_rtt_ms", &check.maxRttText);
                if (*check.maxRttMs < 0)
                    Refuse(node->source(), "max_rtt_ms must not be negative");
            } else {
                Refuse(key->source(), "unknown key " + Quoted(MovedBack(name)) +
                                          " (known: equals, match, min, max, max_rtt_ms)");
            }
        }
        if (boundNode && check.captureCount < 1)
            Refuse(boundNode->source(), "min and max need a match with a group ( ) around "
                                        "the number");
        if (check.min && check.max && *check.min > *check.max)
            Refuse(boundNode->source(), "min " + check.minText + " above max " + check.maxText);
        return check;
    }

    QByteArray Text(const toml::node& node, const char* key) const {
        const auto* text = node.as_string();
        if (!text)
            Refuse(node.source(), QByteArray(key) + " must be text, not " + TypeName(node));
        return MovedBack(text->get());
    }

    // A bound as a number, and as the messages write it.
    double Number(const toml::node& node, const char* key, QByteArray* shown) const {
        if (const auto* integer = node.as_integer()) {
            *shown = QByteArray::number(integer->get());
            return double(integer->get());
        }
        const auto* real = node.as_floating_point();
        if (!real)
            Refuse(node.source(), QByteArray(key) + " must be a number, not " + TypeName(node));
        if (!std::isfinite(real->get()))
            Refuse(node.source(), QByteArray(key) + " must be a finite number");
        *shown = NumberText(real->get());
        return real->get();
    }

    // The pattern alone first, so that an error's offset is the pattern's
    // own, then as it runs. Gives the number of its groups.
    int Compile(const QByteArray& pattern, const toml::node& node) const {
        const QString text = QString::fromLatin1(pattern);
        const QRegularExpression alone(text);
        if (!alone.isValid())
            Refuse(node.source(), "match does not compile at character " +
                                      QByteArray::number(alone.patternErrorOffset() + 1) + ": " +
                                      alone.errorString().toUtf8());
        const QRegularExpression whole = LimitedWholePattern(text, kMaxMatchLimit);
        if (!whole.isValid())
            Refuse(node.source(), "match cannot be made to cover the whole reply (does it end "
                                  "in a comment or \\Q?): " +
                                      whole.errorString().toUtf8());
        return alone.captureCount();
    }

    [[noreturn]] void Refuse(const toml::source_region& where, const QByteArray& what) const {
        throw EChecksError(m_fileName, int(where.begin.line), int(where.begin.column), what);
    }

    const QString& m_fileName;
    const QList<QByteArray>& m_labels;
};

QString ChecksFileOf(const QString& definitionFile) {
    const QString suffix = QStringLiteral(".tst");
    QString stem = definitionFile;
    if (stem.endsWith(suffix, Qt::CaseInsensitive))
        stem.chop(suffix.size());
    return stem + QStringLiteral(".checks.toml");
}

EChecksError::EChecksError(const QString& fileName, int line, int column, const QByteArray& what)
    : Exception(QFile::encodeName(fileName) +
                (line > 0 ? ':' + QByteArray::number(line) + ':' + QByteArray::number(column)
                          : QByteArray()) +
                ": " + what) {}

TReplyChecks TReplyChecks::Read(const QString& fileName, const QList<QByteArray>& labels) {
    const QByteArray text = ReadFileHead(fileName, kMaxChecksBytes + 1);
    if (text.size() > kMaxChecksBytes)
        throw EChecksError(fileName, 0, 0,
                           "larger than " + QByteArray::number(kMaxChecksBytes) + " bytes");
    return Parse(text, fileName, labels);
}

TReplyChecks TReplyChecks::Parse(const QByteArray& text, const QString& fileName,
                                 const QList<QByteArray>& labels) {
    TReplyChecks checks;
    checks.m_checks = TChecksParser(fileName, labels).Parse(text);
    return checks;
}

TVerdict TReplyChecks::Judge(const QByteArray& label, const QByteArray& reply, double rttMs) const {
    const auto check = m_checks.constFind(label);
    if (check == m_checks.constEnd())
        return {};
    if (std::optional<QByteArray> why = Failure(*check, reply, rttMs))
        return {TVerdict::TOutcome::Fail, *why};
    return {TVerdict::TOutcome::Pass, {}};
}

std::optional<QByteArray> TReplyChecks::Failure(const TCheck& check, const QByteArray& reply,
                                                double rttMs) {
    if (check.equals && reply != *check.equals)
        return "does not equal " + *check.equals;
    if (check.pattern) {
        const int limit = MatchLimitFor(reply.size());
        auto matcher = check.matchers.find(limit);
        if (matcher == check.matchers.end())
            matcher = check.matchers.insert(
                limit, LimitedWholePattern(QString::fromLatin1(*check.pattern), limit));
        const QRegularExpressionMatch match = matcher->match(QString::fromLatin1(reply));
        // A match that ends in a PCRE2 error (the limits) is not valid, while
        // one that finds nothing is.
        if (!match.isValid())
            return QByteArray("check too costly");
        if (!match.hasMatch())
            return "does not match " + *check.pattern;
        if (check.min || check.max) {
            const QByteArray text = match.captured(1).toLatin1();
            const std::optional<double> value = ReadNumber(text);
            if (!value)
                return "not a number: " + Shown(text);
            if (check.min && *value < *check.min)
                return Shown(text) + " below min " + check.minText;
            if (check.max && *value > *check.max)
                return Shown(text) + " above max " + check.maxText;
        }
    }
    if (check.maxRttMs && rttMs > *check.maxRttMs)
        // Rounded up to a tenth, so a time just over the bound never reads
        // as equal to it.
        return NumberText(std::ceil(rttMs * 10) / 10) + " ms above " + check.maxRttText + " ms";
    return std::nullopt;
}
