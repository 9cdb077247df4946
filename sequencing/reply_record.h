#pragma once

#include "sequencing/reply_checks.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Bytes as text that stays readable and loses nothing, the same in every
// output: valid UTF-8 as it is, each byte of an invalid sequence as \xNN, a
// backslash as \\. The text stays on one line, for a reader that splits at
// any line break, and holds only what XML 1.0 can: CR, LF and TAB become \r,
// \n, \t, and the bytes of other control characters (C0, DEL, C1), U+2028,
// U+2029, U+FFFE and U+FFFF \xNN. Each output then escapes the text once more
// by its own rules only (JSON's, XML's).
QString EscapedLine(const QByteArray& bytes);

// One complete reply.
struct TReplyRecord {
    QDateTime time; // when it completed, UTC
    int pass = 0;   // the pass over the items it belongs to, from 1
    int slot = 0;
    QByteArray label;
    QByteArray command;
    QByteArray reply;
    double rttMs = 0; // from the first sending of the command
    int resends = 0;  // sendings of the command after the first, before the reply completed
    // A late answer: it came after the command's reply, answering one of its
    // other sendings, and is no reply of its own.
    bool late = false;
    TVerdict verdict; // by the checks file, if the item has a check
    // The reply may answer an earlier sending than the latest: nothing in the
    // bytes tells which.
    bool AfterResend() const { return resends > 0; }
};

// A reply as one line of JSON, as the headless runner writes it and the
// window logs it: controller ("address:port"), time (UTC), cycle, slot,
// label, command, reply, rtt_ms, resends, after_resend, late (true, on a late
// answer only), and check ("pass" or "fail") with why on a failure, for items
// with a check.
QByteArray ReplyJson(const QByteArray& controller, const TReplyRecord& record);
