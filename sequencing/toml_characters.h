#pragma once

#include <QByteArray>

#include <string_view>
#include <utility>

// toml++ 3.3 (Debian 12) reaches __builtin_unreachable, undefined behaviour,
// when it asks whether some non-ASCII characters (U+00A1 to U+0499 among
// them) are blanks. The text it reads has each such character moved into
// private-use plane 15, where the library answers at once and the same way,
// and every text it returns is moved back.

// The text with every such character moved. A text that holds plane 15
// characters itself (U+F0000 to U+FFEFF) would be ambiguous: the place of
// the first, (line, column) from 1, goes to `clash`, which stays (0, 0)
// otherwise.
QByteArray MoveMisread(const QByteArray& text, std::pair<int, int>* clash);

// A text the library returns, its characters back where they were.
QByteArray MovedBack(std::string_view text);
