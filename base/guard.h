#pragma once

#include <QByteArray>

#include <functional>

// Where an error that reached the guard goes, as its message text: the window
// program shows it in the error box, the headless runner prints it. Until a
// sink is installed, messages go to standard error.
using TErrorSink = std::function<void(const QByteArray& message)>;
void SetErrorSink(TErrorSink sink);

// Runs one handler that Qt calls into (a click, a timer tick, a socket
// notification, a lookup result). Nothing escapes: an error goes to the error
// sink and the event loop goes on. An error that is not an Exception arrives
// with its what() text, or empty when it has none.
void Guarded(const std::function<void()>& handler) noexcept;

// The final-stop rule of every error shown or printed: "." appended when the message is not empty
// and its last byte, taken unsigned, is above '.'.
QByteArray ErrorDisplayText(const QByteArray& message);
