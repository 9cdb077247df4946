#include "base/convert.h"

#include "base/exceptions.h"
#include "base/text.h"

#include <optional>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<int32_t> ParseHex(const QByteArray& digits) {
    if (digits.isEmpty())
        return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        const int v = HexValue(c);
        if (v < 0)
            return std::nullopt;
        value = value * 16 + uint64_t(v);
        if (value > 0xFFFFFFFFu) // more than eight significant digits
            return std::nullopt;
    }
    return int32_t(uint32_t(value));
}

std::optional<int32_t> ParseDecimal(const QByteArray& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > limit)
            return std::nullopt;
    }
    return int32_t(negative ? -value : value);
}

std::optional<int32_t> Parse(const QByteArray& text) {
    qsizetype start = 0;
    while (start < text.size() && text[start] == ' ')
        ++start;
    const QByteArray rest = text.mid(start);
    if (rest.startsWith('$') || rest.startsWith('x') || rest.startsWith('X'))
        return ParseHex(rest.mid(1));
    if (rest.startsWith("0x") || rest.startsWith("0X"))
        return ParseHex(rest.mid(2));
    return ParseDecimal(rest);
}

} // namespace

int32_t StrToInt(const QByteArray& text) {
    if (const auto value = Parse(text))
        return *value;
    throw EConvertError(FormatMessage("'%s' is not a valid integer value", text));
}

int32_t StrToPort(const QByteArray& text) {
    const int32_t port = StrToInt(text);
    if (port < 1 || port > 65535)
        throw EConvertError(FormatMessage("'%s' is not a valid port number", text));
    return port;
}
