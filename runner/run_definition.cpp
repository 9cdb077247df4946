#include "runner/run_definition.h"

#include "base/text.h"
#include "sequencing/definition_file.h"

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

TRunDefinition BindRunDefinition(const QByteArray& text) {
    // The lines the window's line store holds for the same file.
    const QList<QByteArray> lines = SplitLines(UpToNul(text), kMaxLineLength);
    TRunDefinition definition;
    definition.itemCount = ItemCountOf(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const TDefinitionLine line = SplitDefinitionLine(lines[i]);
        const TLineBinding binding = BindDefinitionLine(i);
        if (binding.kind == TLineBinding::TKind::Address)
            definition.address = line.value;
        else if (binding.kind == TLineBinding::TKind::Port)
            definition.port = line.value;
        else if (binding.kind == TLineBinding::TKind::Slot)
            definition.items.append({binding.slot, line.label, line.value});
    }
    return definition;
}

TRunDefinition ReadRunDefinition(const QString& fileName) {
    return BindRunDefinition(ReadDefinitionFile(fileName));
}
