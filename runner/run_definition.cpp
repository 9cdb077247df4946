#include "runner/run_definition.h"

#include "base/exceptions.h"
#include "base/text.h"
#include "sequencing/definition_file.h"

#include <QFile>

#include <algorithm>

TRunItem TRunDefinition::Item(int slot) const {
    for (const TRunItem& item : items)
        if (item.slot == slot)
            return item;
    return {slot, {}, {}};
}

bool TRunDefinition::HasCommand() const {
    return std::any_of(items.begin(), items.end(),
                       [](const TRunItem& item) { return !item.command.isEmpty(); });
}

QByteArray AtLine(const QString& fileName, qsizetype line, const QByteArray& message) {
    return QFile::encodeName(fileName) + ':' + QByteArray::number(line) + ": " + message;
}

TRunDefinition BindRunDefinition(const QByteArray& text, const QString& fileName) {
    // The lines the window's line store holds for the same file.
    QList<qsizetype> cut;
    const QList<QByteArray> lines = SplitLines(text, kMaxLineLength, &cut);
    TRunDefinition definition;
    for (const qsizetype index : cut)
        if (BindDefinitionLine(index).kind != TLineBinding::TKind::None)
            definition.cutLines.append(index + 1);
    definition.itemCount = ItemCountOf(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].contains('\0'))
            throw EConvertError(
                AtLine(fileName, i + 1, "a NUL byte in the line (the window stops reading there)"));
        const TDefinitionLine line = SplitDefinitionLine(lines[i]);
        const TLineBinding binding = BindDefinitionLine(i);
        if (binding.kind == TLineBinding::TKind::Address)
            definition.address = line.value;
        else if (binding.kind == TLineBinding::TKind::Port)
            definition.port = line.value;
        else if (binding.kind == TLineBinding::TKind::Slot)
            definition.items.append({binding.slot, line.label, line.value});
        else if (definition.firstLineLeftOut == 0 && !lines[i].isEmpty())
            definition.firstLineLeftOut = i + 1;
    }
    return definition;
}

TRunDefinition ReadRunDefinition(const QString& fileName) {
    return BindRunDefinition(ReadFileHead(fileName, kMaxDefinitionBytes), fileName);
}
