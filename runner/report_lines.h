#pragma once

#include "sequencing/reply_record.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// Bytes that arrived while no command awaited its reply.
struct TUnsolicited {
    QDateTime time; // UTC
    int pass = 0;
    QByteArray shown; // the first kShownBytes of them
    qsizetype size = 0;
    bool outOfStep = false; // they complete a reply after the first command went out
    // A controller that floods must not make the report as large as its flood.
    static constexpr qsizetype kShownBytes = 1024;
};

// The lines of the run's output, each without its line end: text in fixed
// columns, or a JSON object a line. Writing them is the output's business.

// The columns of one line of text about a reply or unsolicited data.
struct TReportRow {
    QString time, controller, pass, slot, label, rtt, resends, check, reply;
};
// The header over the rows.
TReportRow HeaderRow();
TReportRow ReplyRow(const QByteArray& controller, const TReplyRecord& record);
TReportRow UnsolicitedRow(const QByteArray& controller, const TUnsolicited& piece);
// A row in its columns: the label cut to labelWidth, the controller named
// when the run has many.
QByteArray RowText(const TReportRow& row, int labelWidth, bool nameController);

QByteArray UnsolicitedJson(const QByteArray& controller, const TUnsolicited& piece);

// An outage began, or ended with a connection after attempts dials.
QByteArray OutageJson(const QByteArray& controller, const QDateTime& time,
                      const QByteArray& reason);
QByteArray OutageText(const QByteArray& controller, const QDateTime& time,
                      const QByteArray& reason);
QByteArray ReconnectedJson(const QByteArray& controller, const QDateTime& time, qint64 downMs,
                           int attempts);
QByteArray ReconnectedText(const QByteArray& controller, const QDateTime& time, qint64 downMs,
                           int attempts);

// Milliseconds as text with three decimals.
QByteArray MsText(double ms);
// A label in a column of width characters: cut with an ellipsis when longer.
QString Column(const QString& text, int width);
// The object in one line.
QByteArray CompactJson(const QJsonObject& object);
