#pragma once

#include "runner/run_definition.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdio>
#include <optional>
#include <vector>

class QIODevice;

// Bytes as text that stays readable and loses nothing: valid UTF-8 as it is,
// each byte of an invalid sequence as \xNN, a backslash as \\. With
// escapeControls, CR, LF and TAB become \r, \n, \t and other control
// characters \xNN, so the text stays on one line.
QString EscapedText(const QByteArray& bytes, bool escapeControls);

// Writes text and a line end and flushes, so a pipe sees the line at once.
void WriteLine(FILE* stream, const QByteArray& text);

// One complete reply.
struct TReplyRecord {
    QDateTime time; // when it completed, UTC
    int cycle = 0;  // the pass it belongs to, from 1
    int slot = 0;
    QByteArray label;
    QByteArray command;
    QByteArray reply;
    double rttMs = 0; // from the latest sending of the command
    int resends = 0;  // sendings of the command before the answered one
};

struct TRoundTrips {
    double min, median, p99, max;
};
// Nearest-rank statistics of round-trip times; nothing for no times.
std::optional<TRoundTrips> RoundTripsOf(std::vector<double> ms);

struct TRunSummary {
    int replies = 0;
    int resends = 0;
    int cycles = 0; // passes completed
    std::optional<TRoundTrips> rtt;
    int exitStatus = 0;
};

// Writes the replies as they come and the summary at the end: aligned text
// or JSON Lines, a line at a time.
class TRunOutput {
public:
    TRunOutput(FILE* out, bool json, int labelWidth);
    void Reply(const TReplyRecord& record);
    void Summary(const TRunSummary& summary);

private:
    FILE* m_out;
    bool m_json;
    int m_labelWidth;
    qsizetype m_replyWidth = 20; // grows with the longest reply so far
    bool m_headerDone = false;
};

// How one item ended, for the JUnit report.
struct TCaseResult {
    enum class TKind { Passed, Failed, Error, Skipped };
    TRunItem item;
    TKind kind = TKind::Skipped;
    QByteArray message;               // why it failed, erred or was skipped
    std::optional<TReplyRecord> last; // its last reply
};

// A JUnit XML report: one test suite named suiteName, one test case per item.
void WriteJUnit(QIODevice* device, const QString& suiteName, const QDateTime& started,
                double seconds, const QList<TCaseResult>& cases);
