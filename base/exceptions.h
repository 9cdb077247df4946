#pragma once

#include <QByteArray>
#include <exception>

// The base of every error the tool raises. The message is 8-bit text, shown to
// the operator by the application's error display.
class Exception : public std::exception {
public:
    explicit Exception(QByteArray message) : m_message(std::move(message)) {}
    const QByteArray& Message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_message.constData(); }

private:
    QByteArray m_message;
};

// A file could not be opened: "Cannot open file <name>". The operating
// system's reason is kept beside the message, which stays as it is.
class EFOpenError : public Exception {
public:
    EFOpenError(QByteArray message, QByteArray reason)
        : Exception(std::move(message)), m_reason(std::move(reason)) {}
    const QByteArray& Reason() const noexcept { return m_reason; }

private:
    QByteArray m_reason;
};

// A text is not an acceptable number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// The client socket failed.
class ESocketError : public Exception {
public:
    using Exception::Exception;
};
