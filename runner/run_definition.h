#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One test item as the window's slot would hold it.
struct TRunItem {
    int slot = 0; // 1..kSlotCount
    QByteArray label;
    QByteArray command;
};

// A test definition bound as the window binds it: the same lines, the same
// address and port lines, items only in the slots.
struct TRunDefinition {
    QByteArray address;
    QByteArray port;
    qsizetype itemCount = 0; // as the cycle counts items: may be <= 0 or above the slots
    QList<TRunItem> items;   // the slots that got a line, in slot order
    // The first line (from 1) past the last slot that holds anything; such
    // lines are not run. 0 when there is none.
    qsizetype firstLineLeftOut = 0;
    // The lines (from 1) of the address, the port and the items that were
    // longer than kMaxLineLength bytes: cut there, as the window cuts them.
    QList<qsizetype> cutLines;

    // The item of a slot; empty label and command when no line reached it.
    TRunItem Item(int slot) const;
    bool HasCommand() const;
};

// Where a definition's address and port lines are, counted from 1 as an
// editor shows them, for messages that point at them.
inline constexpr int kAddressLineNumber = 1;
inline constexpr int kPortLineNumber = 2;

// "<file>:<line>: <message>", the way compilers point at a line.
QByteArray AtLine(const QString& fileName, qsizetype line, const QByteArray& message);

// Binds the text of a definition file. A NUL byte, which the window takes as
// the end of the file, is refused instead: EConvertError naming fileName and
// the line that holds it.
TRunDefinition BindRunDefinition(const QByteArray& text, const QString& fileName);
// Reads and binds a definition file; throws EFOpenError as the window's
// loader does.
TRunDefinition ReadRunDefinition(const QString& fileName);
