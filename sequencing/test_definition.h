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

// One definition line split at its last "=": the label before it, the value
// after it. Without "=" the label is empty and the value is the whole line.
// Nothing is trimmed.
struct TDefinitionLine {
    QByteArray label;
    QByteArray value;
};
TDefinitionLine SplitDefinitionLine(const QByteArray& line);
