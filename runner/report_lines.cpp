#include "runner/report_lines.h"

#include "base/text.h"
#include "base/time_text.h"

#include <QJsonDocument>

namespace {

// The check column: PASS or FAIL, or nothing for an item without a check.
QString CheckText(const TVerdict& verdict) {
    switch (verdict.outcome) {
    case TVerdict::TOutcome::Pass:
        return QStringLiteral("PASS");
    case TVerdict::TOutcome::Fail:
        return QStringLiteral("FAIL");
    default:
        return {};
    }
}

} // namespace

QByteArray MsText(double ms) {
    return QByteArray::number(ms, 'f', 3);
}

QString Column(const QString& text, int width) {
    return text.size() <= width ? text.leftJustified(width) : text.left(width - 1) + u'\u2026';
}

QByteArray CompactJson(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

TReportRow HeaderRow() {
    return {"time", "controller", "cycle", "slot", "label", "rtt ms", "resends", "check", "reply"};
}

TReportRow ReplyRow(const QByteArray& controller, const TReplyRecord& record) {
    return {LocalTimeText(record.time),
            QString::fromLatin1(controller),
            QString::number(record.pass),
            QString::number(record.slot),
            EscapedLine(record.label),
            QString::fromLatin1(MsText(record.rttMs)),
            QString::number(record.resends),
            record.late ? QStringLiteral("LATE") : CheckText(record.verdict),
            EscapedLine(record.reply)};
}

TReportRow UnsolicitedRow(const QByteArray& controller, const TUnsolicited& piece) {
    return {LocalTimeText(piece.time),
            QString::fromLatin1(controller),
            QString::number(piece.pass),
            "-",
            piece.outOfStep ? "out of step" : "unsolicited",
            "-",
            "-",
            "",
            EscapedLine(piece.shown) + (piece.size > piece.shown.size()
                                            ? QStringLiteral(" \u2026 (%1 bytes)").arg(piece.size)
                                            : QString())};
}

QByteArray RowText(const TReportRow& row, int labelWidth, bool nameController) {
    // The widest "address:port".
    constexpr int kControllerWidth = 21;
    const QString controller =
        nameController ? row.controller.leftJustified(kControllerWidth) + "  " : QString();
    // The reply comes last, so no column moves however long replies grow.
    return (row.time.leftJustified(30) + "  " + controller + row.pass.rightJustified(5) + "  " +
            row.slot.rightJustified(4) + "  " + Column(row.label, labelWidth) + "  " +
            row.rtt.rightJustified(10) + "  " + row.resends.rightJustified(7) + "  " +
            row.check.leftJustified(5) + "  " + row.reply)
        .toUtf8();
}

QByteArray UnsolicitedJson(const QByteArray& controller, const TUnsolicited& piece) {
    QJsonObject object{
        {"controller", QString::fromLatin1(controller)},
        {"time", piece.time.toString(Qt::ISODateWithMs)},
        {"cycle", piece.pass},
        {"unsolicited", EscapedLine(piece.shown)},
        {"bytes", piece.size},
    };
    if (piece.outOfStep)
        object.insert("out_of_step", true);
    return CompactJson(object);
}

QByteArray OutageJson(const QByteArray& controller, const QDateTime& time,
                      const QByteArray& reason) {
    return CompactJson({{"controller", QString::fromLatin1(controller)},
                        {"time", time.toString(Qt::ISODateWithMs)},
                        {"outage", EscapedLine(reason)}});
}

QByteArray OutageText(const QByteArray& controller, const QDateTime& time,
                      const QByteArray& reason) {
    return LocalTimeText(time).toUtf8() + "  " + controller +
           ": outage: " + EscapedLine(reason).toUtf8();
}

QByteArray ReconnectedJson(const QByteArray& controller, const QDateTime& time, qint64 downMs,
                           int attempts) {
    return CompactJson({{"controller", QString::fromLatin1(controller)},
                        {"time", time.toString(Qt::ISODateWithMs)},
                        {"reconnected", true},
                        {"down_ms", downMs},
                        {"attempts", attempts}});
}

QByteArray ReconnectedText(const QByteArray& controller, const QDateTime& time, qint64 downMs,
                           int attempts) {
    return LocalTimeText(time).toUtf8() + "  " + controller + ": reconnected after " +
           MsText(double(downMs)) + " ms down, " + Counted(attempts, "attempt", "attempts");
}
