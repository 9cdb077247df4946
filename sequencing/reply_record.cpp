#include "sequencing/reply_record.h"

#include "base/json_line.h"
#include "base/time_text.h"

#include <algorithm>
#include <cmath>

namespace {

// The length of the valid UTF-8 sequence starting at bytes[i]; 0 when none
// does (a stray continuation byte, an overlong form, a surrogate, a code
// point above U+10FFFF, or a sequence cut short).
int Utf8SequenceLength(const QByteArray& bytes, qsizetype i) {
    const auto at = [&](qsizetype k) { return k < bytes.size() ? uchar(bytes[k]) : 0u; };
    const unsigned lead = at(i);
    if (lead < 0x80)
        return 1;
    int length = 0;
    unsigned low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (int k = 2; k < length; ++k)
        if ((at(i + k) & 0xC0) != 0x80)
            return 0;
    return length;
}

QString HexEscape(unsigned byte) {
    return QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

QString ControlEscape(char c) {
    switch (c) {
    case '\r':
        return QStringLiteral("\\r");
    case '\n':
        return QStringLiteral("\\n");
    case '\t':
        return QStringLiteral("\\t");
    default:
        return HexEscape(uchar(c));
    }
}

// Code points that must not reach a line of text or an XML file as they are:
// C1 controls, the line and paragraph separators, and the two noncharacters
// XML 1.0 cannot hold. sequence is valid UTF-8 of the given length.
bool ShownEscaped(const char* sequence, int length) {
    const auto byte = [&](int k) { return uchar(sequence[k]); };
    if (length == 2)
        return byte(0) == 0xC2 && byte(1) <= 0x9F;
    if (length == 3)
        return (byte(0) == 0xE2 && byte(1) == 0x80 && (byte(2) == 0xA8 || byte(2) == 0xA9)) ||
               (byte(0) == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE);
    return false;
}

} // namespace

QString EscapedLine(const QByteArray& bytes) {
    QString text;
    for (qsizetype i = 0; i < bytes.size();) {
        // Printable ASCII, most of what a controller sends, stays as it is.
        const qsizetype plainFrom = i;
        while (i < bytes.size() && bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '\\')
            ++i;
        if (i > plainFrom) {
            text += QLatin1String(bytes.constData() + plainFrom, i - plainFrom);
            continue;
        }
        const char c = bytes[i];
        const int length = Utf8SequenceLength(bytes, i);
        if (length == 0) {
            text += HexEscape(uchar(c));
        } else if (c == '\\') {
            text += QStringLiteral("\\\\");
        } else if (length == 1 && (uchar(c) < 0x20 || c == 0x7F)) {
            text += ControlEscape(c);
        } else if (ShownEscaped(bytes.constData() + i, length)) {
            for (int k = 0; k < length; ++k)
                text += HexEscape(uchar(bytes[i + k]));
        } else {
            text += QString::fromUtf8(bytes.constData() + i, length);
        }
        i += std::max(length, 1);
    }
    return text;
}

QByteArray ReplyJson(const QByteArray& controller, const TReplyRecord& record) {
    // Written directly, keys in QJsonObject's order: a QJsonDocument would
    // cost the runner most of its time per reply.
    TJsonLine line;
    line.Flag(QLatin1String("after_resend"), record.AfterResend());
    if (record.verdict.outcome != TVerdict::TOutcome::Unchecked)
        line.Text(
            QLatin1String("check"),
            QLatin1String(record.verdict.outcome == TVerdict::TOutcome::Pass ? "pass" : "fail"));
    line.Text(QLatin1String("command"), EscapedLine(record.command))
        .Text(QLatin1String("controller"), QLatin1String(controller))
        .Integer(QLatin1String("cycle"), record.pass)
        .Text(QLatin1String("label"), EscapedLine(record.label));
    if (record.late)
        line.Flag(QLatin1String("late"), true);
    line.Text(QLatin1String("reply"), EscapedLine(record.reply))
        .Integer(QLatin1String("resends"), record.resends)
        // To the microsecond.
        .Number(QLatin1String("rtt_ms"), std::round(record.rttMs * 1000) / 1000)
        .Integer(QLatin1String("slot"), record.slot)
        .Text(QLatin1String("time"), IsoTimeText(record.time));
    if (record.verdict.outcome == TVerdict::TOutcome::Fail)
        line.Text(QLatin1String("why"), EscapedLine(record.verdict.why));
    return line.Line();
}
