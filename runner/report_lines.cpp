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
    // One text padded in place: a QString for every column and join would
    // cost more than all else about a reply.
    QString text;
    text.reserve(160 + labelWidth + row.reply.size());
    const auto pad = [&](qsizetype width, qsizetype used) {
        if (used < width)
            text.resize(text.size() + width - used, u' ');
    };
    const auto left = [&](const QString& column, int width) {
        text += column;
        pad(width, column.size());
        text += QLatin1String("  ");
    };
    const auto right = [&](const QString& column, int width) {
        pad(width, column.size());
        text += column;
        text += QLatin1String("  ");
    };
    left(row.time, 30);
    if (nameController)
        left(row.controller, kControllerWidth);
    right(row.pass, 5);
    right(row.slot, 4);
    left(Column(row.label, labelWidth), labelWidth);
    right(row.rtt, 10);
    right(row.resends, 7);
    left(row.check, 5);
    // The reply comes last, so no column moves however long replies grow.
    text += row.reply;
    return text.toUtf8();
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
