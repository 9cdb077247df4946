#pragma once

#include <QByteArray>

#include <optional>
#include <string>

// A top-level table that a TOML text gives twice. toml++ reports only the
// second header, and names the table in words of its own.
struct TTableGivenTwice {
    std::string name; // as toml++ returns it
    int firstLine;    // from 1
};

// The table whose header is on `line` (from 1), when the lines before it
// already give it; nothing when that line holds no such header.
std::optional<TTableGivenTwice> TableGivenTwice(const QByteArray& text, int line);
