#include "runner/run_report.h"

#include "base/percentile.h"
#include "base/text.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

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

// Milliseconds as text with three decimals.
QByteArray MsText(double ms) {
    return QByteArray::number(ms, 'f', 3);
}

// Milliseconds to the microsecond.
double Rounded(double ms) {
    return std::round(ms * 1000) / 1000;
}

QJsonObject RoundTripsJson(const TRoundTrips& rtt) {
    return {{"min", Rounded(rtt.min)},
            {"median", Rounded(rtt.median)},
            {"p99", Rounded(rtt.p99)},
            {"max", Rounded(rtt.max)}};
}

QByteArray Counted(int count, const char* one, const char* many) {
    return QByteArray::number(count) + ' ' + (count == 1 ? one : many);
}

} // namespace

QString EscapedText(const QByteArray& bytes, bool escapeControls) {
    QString text;
    for (qsizetype i = 0; i < bytes.size();) {
        const char c = bytes[i];
        const int length = Utf8SequenceLength(bytes, i);
        if (length == 0)
            text += HexEscape(uchar(c));
        else if (c == '\\')
            text += QStringLiteral("\\\\");
        else if (escapeControls && length == 1 && (uchar(c) < 0x20 || c == 0x7F))
            text += ControlEscape(c);
        else
            text += QString::fromUtf8(bytes.constData() + i, length);
        i += std::max(length, 1);
    }
    return text;
}

std::optional<TRoundTrips> RoundTripsOf(std::vector<double> ms) {
    if (ms.empty())
        return std::nullopt;
    std::sort(ms.begin(), ms.end());
    return TRoundTrips{ms.front(), NearestRank(ms, 0.5), NearestRank(ms, 0.99), ms.back()};
}

TRunOutput::TRunOutput(FILE* out, bool json, int labelWidth)
    : m_out(out), m_json(json), m_labelWidth(labelWidth) {}

void WriteLine(FILE* stream, const QByteArray& text) {
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void TRunOutput::Reply(const TReplyRecord& record) {
    if (m_json) {
        const QJsonObject object{
            {"time", record.time.toString(Qt::ISODateWithMs)},
            {"cycle", record.cycle},
            {"slot", record.slot},
            {"label", EscapedText(record.label, false)},
            {"command", EscapedText(record.command, false)},
            {"reply", EscapedText(record.reply, false)},
            {"rtt_ms", Rounded(record.rttMs)},
            {"resends", record.resends},
        };
        return WriteLine(m_out, QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    const QString reply = EscapedText(record.reply, true);
    m_replyWidth = std::max(m_replyWidth, reply.size());
    const auto row = [&](const QString& time, const QString& slot, const QString& label,
                         const QString& shown, const QString& rtt, const QString& resends) {
        WriteLine(m_out,
                  (time.leftJustified(12) + "  " + slot.rightJustified(4) + "  " +
                   label.leftJustified(m_labelWidth) + "  " + shown.leftJustified(m_replyWidth) +
                   "  " + rtt.rightJustified(9) + "  " + resends.rightJustified(7))
                      .toUtf8());
    };
    if (!m_headerDone) {
        row("time", "slot", "label", "reply", "rtt ms", "resends");
        m_headerDone = true;
    }
    row(record.time.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")),
        QString::number(record.slot), EscapedText(record.label, true), reply,
        QString::fromLatin1(MsText(record.rttMs)), QString::number(record.resends));
}

void TRunOutput::Summary(const TRunSummary& summary) {
    if (m_json) {
        const QJsonObject object{
            {"replies", summary.replies},
            {"resends", summary.resends},
            {"cycles", summary.cycles},
            {"rtt_ms", summary.rtt ? QJsonValue(RoundTripsJson(*summary.rtt)) : QJsonValue()},
            {"exit_status", summary.exitStatus},
        };
        return WriteLine(
            m_out, QJsonDocument(QJsonObject{{"summary", object}}).toJson(QJsonDocument::Compact));
    }
    WriteLine(m_out, Counted(summary.replies, "reply", "replies") + ", " +
                         Counted(summary.resends, "resend", "resends") + ", " +
                         Counted(summary.cycles, "cycle", "cycles") + " completed");
    if (!summary.rtt)
        return WriteLine(m_out, "round trip: no replies");
    const TRoundTrips& rtt = *summary.rtt;
    WriteLine(m_out, "round trip ms: min " + MsText(rtt.min) + "  median " + MsText(rtt.median) +
                         "  p99 " + MsText(rtt.p99) + "  max " + MsText(rtt.max));
}

namespace {

int CountOf(const QList<TCaseResult>& cases, TCaseResult::TKind kind) {
    return int(std::count_if(cases.begin(), cases.end(),
                             [kind](const TCaseResult& c) { return c.kind == kind; }));
}

void WriteCase(QXmlStreamWriter& xml, const QString& suiteName, const TCaseResult& result) {
    using TKind = TCaseResult::TKind;
    xml.writeStartElement("testcase");
    xml.writeAttribute("classname", suiteName);
    xml.writeAttribute("name", QString::number(result.item.slot) + " " +
                                   EscapedText(result.item.label, true));
    xml.writeAttribute("time", result.last ? QString::number(result.last->rttMs / 1000, 'f', 6)
                                           : QStringLiteral("0"));
    const QString message = EscapedText(result.message, true);
    if (result.kind == TKind::Failed || result.kind == TKind::Error) {
        xml.writeStartElement(result.kind == TKind::Failed ? "failure" : "error");
        xml.writeAttribute("message", message);
        xml.writeEndElement();
    } else if (result.kind == TKind::Skipped) {
        xml.writeStartElement("skipped");
        xml.writeAttribute("message", message);
        xml.writeEndElement();
    }
    if (result.last)
        xml.writeTextElement("system-out", EscapedText(result.last->reply, true));
    xml.writeEndElement();
}

} // namespace

void WriteJUnit(QIODevice* device, const QString& suiteName, const QDateTime& started,
                double seconds, const QList<TCaseResult>& cases) {
    using TKind = TCaseResult::TKind;
    QXmlStreamWriter xml(device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement("testsuites");
    xml.writeStartElement("testsuite");
    xml.writeAttribute("name", suiteName);
    xml.writeAttribute("tests", QString::number(cases.size()));
    xml.writeAttribute("failures", QString::number(CountOf(cases, TKind::Failed)));
    xml.writeAttribute("errors", QString::number(CountOf(cases, TKind::Error)));
    xml.writeAttribute("skipped", QString::number(CountOf(cases, TKind::Skipped)));
    xml.writeAttribute("time", QString::number(seconds, 'f', 3));
    xml.writeAttribute("timestamp", started.toString(Qt::ISODate));
    for (const TCaseResult& result : cases)
        WriteCase(xml, suiteName, result);
    xml.writeEndDocument();
}
