#pragma once

#include <QByteArray>

#include <functional>
#include <memory>
#include <type_traits>

// Where an error that reached the guard goes, as its message text: the window
// program shows it in the error box, the headless runner prints it. Until a
// sink is installed, messages go to standard error.
using TErrorSink = std::function<void(const QByteArray& message)>;
void SetErrorSink(TErrorSink sink);

// A callable borrowed for one call: called through one pointer, without the
// copy a std::function would make of it. It must outlive the call, as a
// lambda written in the call's arguments does.
class THandlerRef {
public:
    template <class Handler,
              class = std::enable_if_t<!std::is_same_v<std::decay_t<Handler>, THandlerRef>>>
    THandlerRef(Handler&& handler) noexcept
        : m_handler(const_cast<void*>(static_cast<const void*>(std::addressof(handler)))),
          m_call(
              [](void* target) { (*static_cast<std::remove_reference_t<Handler>*>(target))(); }) {}
    void operator()() const { m_call(m_handler); }

private:
    void* m_handler;
    void (*m_call)(void*);
};

// Runs one handler that Qt calls into (a click, a timer tick, a socket
// notification, a lookup result). Nothing escapes: an error goes to the error
// sink and the event loop goes on. An error that is not an Exception arrives
// with its what() text, or empty when it has none.
void Guarded(THandlerRef handler) noexcept;

// The final-stop rule of every error shown or printed: "." appended when the message is not empty
// and its last byte, taken unsigned, is above '.'.
QByteArray ErrorDisplayText(const QByteArray& message);
