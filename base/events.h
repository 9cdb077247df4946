#pragma once

#include <functional>
#include <utility>

class QObject;

// An event property: an (object, method) pair of the owner, or unassigned.
// Calling an unassigned event does nothing.
template <class... Args> class TEvent {
public:
    TEvent() = default;
    template <class Object>
    TEvent(Object* object, void (Object::*method)(Args...))
        : m_call(
              [object, method](Args... args) { (object->*method)(std::forward<Args>(args)...); }) {}

    explicit operator bool() const { return bool(m_call); }
    void operator()(Args... args) const {
        if (m_call)
            m_call(std::forward<Args>(args)...);
    }

private:
    std::function<void(Args...)> m_call;
};

// The plain notification of a control: the control that raised it.
using TNotifyEvent = TEvent<QObject*>;
