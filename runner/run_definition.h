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

    // The item of a slot; empty label and command when no line reached it.
    TRunItem Item(int slot) const;
    bool HasCommand() const;
};

// Binds the text of a definition file.
TRunDefinition BindRunDefinition(const QByteArray& text);
// Reads and binds a definition file; throws EFOpenError as the window's
// loader does.
TRunDefinition ReadRunDefinition(const QString& fileName);
