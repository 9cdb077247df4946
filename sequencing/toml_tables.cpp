#include "sequencing/toml_tables.h"

#include <QList>

#include <toml++/toml.h>

#include <string_view>

namespace {

toml::table Parsed(const QByteArray& text) {
    return toml::parse(std::string_view(text.constData(), size_t(text.size())));
}

} // namespace

std::optional<TTableGivenTwice> TableGivenTwice(const QByteArray& text, int line) {
    const QList<QByteArray> lines = text.split('\n');
    if (line < 1 || line > lines.size())
        return std::nullopt;
    try {
        // The line alone parses to the one table it names, if it is a header.
        // Only a line end's CR goes: one taken from inside the line could join
        // two bytes into a character the text was never moved aside for.
        QByteArray headerLine = lines[line - 1];
        if (headerLine.endsWith('\r'))
            headerLine.chop(1);
        const toml::table header = Parsed(headerLine);
        if (header.size() != 1 || !header.cbegin()->second.is_table())
            return std::nullopt;
        const toml::table before = Parsed(lines.mid(0, line - 1).join('\n') + '\n');
        const auto first = before.find(header.cbegin()->first.str());
        if (first == before.end())
            return std::nullopt;
        return TTableGivenTwice{std::string(first->first.str()),
                                int(first->first.source().begin.line)};
    } catch (const toml::parse_error&) {
        return std::nullopt;
    }
}
