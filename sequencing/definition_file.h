#pragma once

#include <QByteArray>
#include <QString>

// The most of a definition file that is read; anything beyond it could only
// add to the item count, and a definition is a few hundred bytes.
inline constexpr qint64 kMaxDefinitionBytes = 64 * 1024 * 1024;

// Reads a test definition file in one read: its text up to the first NUL.
// Writers holding a lock on the file shut it out. Throws EFOpenError
// "Cannot open file <fileName>" (the name as passed) when the file cannot be
// opened or is not a regular file.
QByteArray ReadDefinitionFile(const QString& fileName);
// Reads at most maxBytes of a file as ReadDefinitionFile does, NUL bytes
// included (for a reader that refuses what the window would silently cut),
// and throws as it does.
QByteArray ReadFileHead(const QString& fileName, qint64 maxBytes);

// One definition line split at its last "=": the label before it, the value
// after it. Without "=" the label is empty and the value is the whole line.
// Nothing is trimmed.
struct TDefinitionLine {
    QByteArray label;
    QByteArray value;
};
TDefinitionLine SplitDefinitionLine(const QByteArray& line);

// The slots a definition's items go to; items beyond the last are not run.
inline constexpr int kSlotCount = 18;
// Lines 0 and 1 hold the address and the port; line i from 2 on is an item,
// and feeds slot i - 1 up to the last slot.
inline constexpr qsizetype kFirstItemLine = 2;
inline constexpr qsizetype kLastSlotLine = kFirstItemLine + kSlotCount - 1;

// Where definition line `index` goes. Lines after the last slot line go
// nowhere, though they still count as items (ItemCountOf).
struct TLineBinding {
    enum class TKind { Address, Port, Slot, None };
    TKind kind = TKind::None;
    int slot = 0; // 1..kSlotCount for TKind::Slot
};
TLineBinding BindDefinitionLine(qsizetype index);

// The item count of a definition with lineCount lines: every line after the
// address and port lines (negative for fewer than two lines).
inline qsizetype ItemCountOf(qsizetype lineCount) {
    return lineCount - kFirstItemLine;
}
