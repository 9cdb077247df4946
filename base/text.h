#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Texts of the tool are byte strings. They are decoded only to be shown: as
// UTF-8 where the bytes are valid UTF-8, as Latin-1 otherwise, so every byte
// shows as something and nothing is lost on the way back.
QString DisplayText(const QByteArray& bytes);

// The inverse of DisplayText for what the operator typed into a field.
QByteArray TextBytes(const QString& text);

// Everything before the first NUL byte: a control's text stops there.
QByteArray UpToNul(const QByteArray& bytes);

// Where the line starting at `start` ends (its length is end - start) and
// where the next line starts. CR LF, a lone CR and a lone LF each end a line.
struct TLineSpan {
    qsizetype end;
    qsizetype next;
};
TLineSpan FindLineEnd(const QByteArray& text, qsizetype start);

// Splits text into lines. CR LF, a lone CR and a lone LF each end one line
// (so LF CR is two breaks with an empty line between); a break at the very end
// starts no further line. Each line is cut at maxLineLength bytes; cutLines,
// if given, receives the indexes of the lines that were.
QList<QByteArray> SplitLines(const QByteArray& text, qsizetype maxLineLength,
                             QList<qsizetype>* cutLines = nullptr);

// The longest line the line store reads back.
inline constexpr qsizetype kMaxLineLength = 4096;

// Formats a message of the form "... %s ..." with one byte-string argument.
QByteArray FormatMessage(const char* format, const QByteArray& argument);

// "1 reply", "2 replies".
QByteArray Counted(qsizetype count, const char* one, const char* many);
