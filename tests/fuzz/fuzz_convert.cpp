// StrToInt and StrToPort against a model of the conversion rule written here
// from the rule itself: numbers are compared as digit strings, not computed
// the way the tool computes them.
#include "base/convert.h"
#include "base/exceptions.h"
#include "fuzz_check.h"

#include <cstdint>
#include <optional>
#include <string>

namespace {

bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool AllOf(const std::string& s, bool (*test)(char)) {
    for (char c : s)
        if (!test(c))
            return false;
    return true;
}

std::string WithoutLeadingZeros(const std::string& digits) {
    const size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? std::string() : digits.substr(first);
}

// Magnitude digits (no leading zeros) at most `limit`, compared as strings.
bool AtMost(const std::string& digits, const std::string& limit) {
    return digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
}

// Hex digits, at least one, at most eight significant: a 32-bit pattern.
std::optional<int32_t> ModelHex(const std::string& digits) {
    if (digits.empty() || !AllOf(digits, IsHexDigit))
        return std::nullopt;
    const std::string significant = WithoutLeadingZeros(digits);
    if (significant.size() > 8)
        return std::nullopt;
    return int32_t(uint32_t(significant.empty() ? 0 : std::stoul(significant, nullptr, 16)));
}

// An optional sign, then decimal digits within -2147483648..2147483647.
std::optional<int32_t> ModelDecimal(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits =
        !text.empty() && (text[0] == '-' || text[0] == '+') ? text.substr(1) : text;
    if (digits.empty() || !AllOf(digits, IsDecimalDigit))
        return std::nullopt;
    const std::string magnitude = WithoutLeadingZeros(digits);
    if (!AtMost(magnitude, negative ? "2147483648" : "2147483647"))
        return std::nullopt;
    const int64_t value = magnitude.empty() ? 0 : std::stoll(magnitude);
    return int32_t(negative ? -value : value);
}

std::optional<int32_t> ModelStrToInt(const std::string& text) {
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos)
        return std::nullopt;
    const std::string rest = text.substr(start);
    for (const std::string prefix : {"0x", "0X", "$", "x", "X"}) {
        if (rest.compare(0, prefix.size(), prefix) == 0)
            return ModelHex(rest.substr(prefix.size()));
    }
    return ModelDecimal(rest);
}

// What a call gives: its value, or the message it raised.
struct Outcome {
    std::optional<int32_t> value;
    QByteArray message;
};

template <typename Convert> Outcome Run(Convert convert, const QByteArray& text) {
    try {
        return {convert(text), {}};
    } catch (const EConvertError& error) {
        return {std::nullopt, error.Message()};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<int32_t> expected = ModelStrToInt(std::string(text.constData(), size));
    const QByteArray notInteger = "'" + text + "' is not a valid integer value";

    const Outcome integer = Run(StrToInt, text);
    FUZZ_CHECK(integer.value == expected);
    FUZZ_CHECK(integer.message == (expected ? QByteArray() : notInteger));

    const Outcome port = Run(StrToPort, text);
    const bool inRange = expected && *expected >= 1 && *expected <= 65535;
    FUZZ_CHECK(port.value == (inRange ? expected : std::nullopt));
    const QByteArray portMessage = !expected ? notInteger
                                   : inRange ? QByteArray()
                                             : "'" + text + "' is not a valid port number";
    FUZZ_CHECK(port.message == portMessage);
    return 0;
}
