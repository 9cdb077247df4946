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
        const toml::table header = Parsed(QByteArray(lines[line - 1]).replace('\r', ""));
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
