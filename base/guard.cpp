#include "base/guard.h"

#include "base/exceptions.h"

#include <cstdio>

namespace {

void PrintToStandardError(const QByteArray& message) {
    std::fprintf(stderr, "%s\n", message.constData());
}

TErrorSink& Sink() {
    static TErrorSink sink = PrintToStandardError;
    return sink;
}

} // namespace

void SetErrorSink(TErrorSink sink) {
    Sink() = sink ? std::move(sink) : PrintToStandardError;
}

void Guarded(THandlerRef handler) noexcept {
    try {
        handler();
    } catch (const Exception& error) {
        Sink()(error.Message());
    } catch (const std::exception& error) {
        Sink()(QByteArray(error.what()));
    } catch (...) {
        Sink()(QByteArray());
    }
}

QByteArray ErrorDisplayText(const QByteArray& message) {
    if (!message.isEmpty() && static_cast<unsigned char>(message.back()) > '.')
        return message + '.';
    return message;
}
