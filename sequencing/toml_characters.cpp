#include "sequencing/toml_characters.h"

#include <QString>

namespace {

// The characters whose blank test in the library ends in unreachable code:
// the same buckets and answers as that test (found by the fuzz target).
bool TomlMisreadsAsBlank(char32_t c) {
    if (c < 0xA0 || c > 0xFEFF)
        return false;
    const quint64 bucket = (quint64(c) - 0xA0) / 0x3FA;
    if ((quint64(1) << bucket) & 0x7FFFFFFFFFFFF75Eull)
        return false;
    return !(c == 0xA0 || c == 0x3000 || c == 0xFEFF || c == 0x1680 || c == 0x180E ||
             (c >= 0x2000 && c <= 0x200B) || (c >= 0x205F && c <= 0x2060) || c == 0x202F);
}

// Plane 15 reads the same to the library in every place: not a blank, not
// part of a bare key, allowed in strings and comments.
constexpr char32_t kMovedBase = 0xF0000;
constexpr char32_t kMovedEnd = kMovedBase + 0xFEFF;

// The well-formed UTF-8 sequence at `i`: its code and length (0 when
// malformed; the library reports that place itself).
struct TCodePoint {
    char32_t code;
    int length;
};
TCodePoint DecodeAt(std::string_view text, size_t i) {
    const uchar lead = uchar(text[i]);
    const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || i + size_t(length) > text.size())
        return {0, 0};
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        const uchar next = uchar(text[i + size_t(k)]);
        if ((next & 0xC0) != 0x80)
            return {0, 0};
        code = (code << 6) | (next & 0x3F);
    }
    return {code, length};
}

QByteArray Utf8(char32_t code) {
    return QString::fromUcs4(&code, 1).toUtf8();
}

} // namespace

QByteArray MoveMisread(const QByteArray& text, std::pair<int, int>* clash) {
    QByteArray moved;
    moved.reserve(text.size());
    const std::string_view view(text.constData(), size_t(text.size()));
    int line = 1, column = 1;
    for (size_t i = 0; i < view.size();) {
        const TCodePoint point = DecodeAt(view, i);
        if (point.length == 0) { // copied as it is, for the library to refuse
            moved.append(view.substr(i).data(), qsizetype(view.size() - i));
            break;
        }
        if (point.code >= kMovedBase && point.code <= kMovedEnd && !clash->first)
            *clash = {line, column};
        if (TomlMisreadsAsBlank(point.code))
            moved += Utf8(kMovedBase + point.code);
        else
            moved.append(view.substr(i, size_t(point.length)).data(), point.length);
        column = point.code == '\n' ? 1 : column + 1;
        line += point.code == '\n' ? 1 : 0;
        i += size_t(point.length);
    }
    return moved;
}

QByteArray MovedBack(std::string_view text) {
    QByteArray bytes;
    for (size_t i = 0; i < text.size();) {
        const TCodePoint point = DecodeAt(text, i);
        const size_t length = point.length == 0 ? 1 : size_t(point.length);
        if (point.code >= kMovedBase && point.code <= kMovedEnd)
            bytes += Utf8(point.code - kMovedBase);
        else
            bytes.append(text.substr(i, length).data(), qsizetype(length));
        i += length;
    }
    return bytes;
}
