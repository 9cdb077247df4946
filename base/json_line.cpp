#include "base/json_line.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

namespace {

// The writers put their bytes at a position in a buffer made large enough
// beforehand: the longest a UTF-16 unit or Latin-1 character becomes is six
// bytes (\u001f).
constexpr qsizetype kLongestEscape = 6;

char* PutUnicodeEscape(char* at, unsigned code) {
    constexpr char kHex[] = "0123456789abcdef";
    *at++ = '\\';
    *at++ = 'u';
    for (int shift = 12; shift >= 0; shift -= 4)
        *at++ = kHex[(code >> shift) & 0xF];
    return at;
}

char* PutAscii(char* at, char c) {
    const auto escaped = [&](char letter) {
        *at++ = '\\';
        *at++ = letter;
        return at;
    };
    switch (c) {
    case '"':
        return escaped('"');
    case '\\':
        return escaped('\\');
    case '\b':
        return escaped('b');
    case '\f':
        return escaped('f');
    case '\n':
        return escaped('n');
    case '\r':
        return escaped('r');
    case '\t':
        return escaped('t');
    default:
        break;
    }
    if (uchar(c) < 0x20)
        return PutUnicodeEscape(at, uchar(c));
    *at++ = c;
    return at;
}

char* PutUtf8(char* at, char32_t code) {
    if (code < 0x800) {
        *at++ = char(0xC0 | (code >> 6));
    } else if (code < 0x10000) {
        *at++ = char(0xE0 | (code >> 12));
        *at++ = char(0x80 | ((code >> 6) & 0x3F));
    } else {
        *at++ = char(0xF0 | (code >> 18));
        *at++ = char(0x80 | ((code >> 12) & 0x3F));
        *at++ = char(0x80 | ((code >> 6) & 0x3F));
    }
    *at++ = char(0x80 | (code & 0x3F));
    return at;
}

// Appends a quoted string of size characters whose bytes put writes.
template <typename Put> void AppendQuoted(QByteArray& out, qsizetype size, Put put) {
    const qsizetype from = out.size();
    out.resize(from + size * kLongestEscape + 2);
    char* at = out.data() + from;
    *at++ = '"';
    at = put(at);
    *at++ = '"';
    out.truncate(at - out.constData());
}

void AppendString(QByteArray& out, QStringView text) {
    AppendQuoted(out, text.size(), [&](char* at) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            if (c < 0x80)
                at = PutAscii(at, char(c));
            else if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                     text[i + 1].isLowSurrogate())
                at = PutUtf8(at, QChar::surrogateToUcs4(c, text[++i].unicode()));
            else if (QChar::isSurrogate(c)) // half a pair is no character UTF-8 can hold
                at = PutUnicodeEscape(at, c);
            else
                at = PutUtf8(at, c);
        }
        return at;
    });
}

void AppendString(QByteArray& out, QLatin1String text) {
    AppendQuoted(out, text.size(), [&](char* at) {
        for (const char c : text)
            at = uchar(c) < 0x80 ? PutAscii(at, c) : PutUtf8(at, uchar(c));
        return at;
    });
}

void AppendInteger(QByteArray& out, qint64 number) {
    char digits[24];
    out.append(digits, std::to_chars(digits, std::end(digits), number).ptr - digits);
}

} // namespace

TJsonLine::TJsonLine() {
    // Room for a reply's line, so that it grows without moving.
    m_bytes.reserve(256);
    m_bytes += '{';
}

void TJsonLine::Key(QLatin1String key) {
    const qsizetype from = m_bytes.size();
    m_bytes.resize(from + key.size() + 4);
    char* at = m_bytes.data() + from;
    if (from > 1)
        *at++ = ',';
    *at++ = '"';
    at = std::copy(key.begin(), key.end(), at);
    *at++ = '"';
    *at++ = ':';
    m_bytes.truncate(at - m_bytes.constData());
}

TJsonLine& TJsonLine::Text(QLatin1String key, QStringView text) {
    Key(key);
    AppendString(m_bytes, text);
    return *this;
}

TJsonLine& TJsonLine::Text(QLatin1String key, QLatin1String text) {
    Key(key);
    AppendString(m_bytes, text);
    return *this;
}

TJsonLine& TJsonLine::Integer(QLatin1String key, qint64 number) {
    Key(key);
    AppendInteger(m_bytes, number);
    return *this;
}

TJsonLine& TJsonLine::Number(QLatin1String key, double number) {
    Key(key);
    // A JSON value keeps a whole number up to 2^53 as an integer, and has
    // no infinity or NaN.
    constexpr double kExactWhole = 9007199254740992.0;
    if (!std::isfinite(number))
        m_bytes += "null";
    else if (std::abs(number) <= kExactWhole && number == std::trunc(number))
        AppendInteger(m_bytes, qint64(number));
    else
        m_bytes += QByteArray::number(number, 'g', QLocale::FloatingPointShortest);
    return *this;
}

TJsonLine& TJsonLine::Flag(QLatin1String key, bool value) {
    Key(key);
    m_bytes += value ? "true" : "false";
    return *this;
}

QByteArray TJsonLine::Line() const {
    return m_bytes + '}';
}
