#pragma once

#include <QByteArray>
#include <cstdint>

// Converts text to a signed 32-bit integer.
// Accepted: leading blanks (the space character only), then either an optional
// "+" or "-" and decimal digits within the 32-bit range, or, with no sign, one
// of the prefixes "$", "x", "X", "0x", "0X" and at most eight significant hex
// digits taken as a 32-bit pattern ("$FFFFFFFF" is -1). At least one digit;
// nothing may follow. Anything else throws EConvertError
// "'<text>' is not a valid integer value".
int32_t StrToInt(const QByteArray& text);

// A TCP port typed by the operator: StrToInt's rules, then 1 to 65535.
// Throws EConvertError "'<text>' is not a valid port number" for a number
// outside that range.
int32_t StrToPort(const QByteArray& text);
