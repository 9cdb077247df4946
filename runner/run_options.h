#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What one headless run does, as the command line asked.
struct TRunOptions {
    QString file = QStringLiteral("default1.tst");
    std::optional<QByteArray> address; // replaces the definition's address line
    std::optional<QByteArray> port;    // replaces the definition's port line
    int cycles = 1;                    // passes over the items; 0: no limit
    int durationMs = 0;                // stop after this long; 0: no limit
    int timeoutMs = 10000;             // give up after this long without a complete reply
    int replyTimeoutMs = 1000; // resend a command unanswered this long (then the send delay)
    int maxResends = 0;        // resends a reply may need and still pass
    bool quiet = false;        // the summary only
    bool json = false;         // JSON Lines instead of aligned text
    QString junitFile;         // empty: no JUnit report
};

// The command line read: run with options, or show help or the version, or
// refuse (text then says why).
struct TCommandLine {
    enum class TAction { Run, Help, Version, Error };
    TAction action = TAction::Run;
    TRunOptions options;
    QString text; // the help text, or the usage error
};

// Reads the arguments (the program name first). A --cycles given without
// --duration, or --duration without --cycles, makes the other unlimited.
TCommandLine ParseCommandLine(const QStringList& arguments);
