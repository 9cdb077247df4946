#include "base/json_line.h"

#include <QLocale>

#include <cmath>

namespace {

void AppendAscii(QByteArray& out, char c) {
    switch (c) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    if (uchar(c) >= 0x20) {
        out += c;
        return;
    }
    constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[uchar(c) >> 4];
    out += kHex[uchar(c) & 0xF];
}

void AppendUtf8(QByteArray& out, char32_t code) {
    if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
    }
    out += char(0x80 | (code & 0x3F));
}

void AppendString(QByteArray& out, QStringView text) {
    out += '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            AppendAscii(out, char(c));
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                   text[i + 1].isLowSurrogate()) {
            AppendUtf8(out, QChar::surrogateToUcs4(c, text[++i].unicode()));
        } else if (QChar::isSurrogate(c)) {
            // Half a pair is no character UTF-8 can hold.
            out += "\\u" + QByteArray::number(c, 16);
        } else {
            AppendUtf8(out, c);
        }
    }
    out += '"';
}

void AppendString(QByteArray& out, QLatin1String text) {
    out += '"';
    for (const char c : text) {
        if (uchar(c) < 0x80)
            AppendAscii(out, c);
        else
            AppendUtf8(out, uchar(c));
    }
    out += '"';
}

} // namespace

TJsonLine::TJsonLine() {
    // Room for a reply's line, so that it grows without moving.
    m_bytes.reserve(256);
    m_bytes += '{';
}

void TJsonLine::Key(QLatin1String key) {
    if (m_bytes.size() > 1)
        m_bytes += ',';
    m_bytes += '"';
    m_bytes += key;
    m_bytes += "\":";
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
    m_bytes += QByteArray::number(number);
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
        m_bytes += QByteArray::number(qint64(number));
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
