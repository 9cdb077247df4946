// The receive buffer fed pieces as a connection would bring them, and the cut
// a result field shows. The input is a list of operations: clear, append a
// literal piece, append a large piece that reaches the kept bound, look at
// the shown text.
#include "fuzz_check.h"
#include "sequencing/receive_buffer.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

// A kept bound far below the real one keeps a run cheap; it stays above the
// field's cut so both cuts are exercised.
constexpr qsizetype kKept = 8192;
constexpr qsizetype kShown = 4096;

bool IsContinuation(char c) {
    return (uchar(c) & 0xC0) == 0x80;
}

// The checks walk kilobytes per input; coverage of their own branches tells
// the fuzzer nothing about the buffer and costs most of a run.
#define ZYL_CHECK_ONLY __attribute__((no_sanitize("coverage")))

// Length of the longest prefix of `bytes` that is whole, valid UTF-8
// characters (no overlong forms, no surrogates, nothing above U+10FFFF).
ZYL_CHECK_ONLY qsizetype ValidUtf8Prefix(const QByteArray& bytes) {
    qsizetype i = 0;
    while (i < bytes.size()) {
        const uchar lead = uchar(bytes[i]);
        const int length = lead < 0x80   ? 1
                           : lead < 0xC2 ? 0
                           : lead < 0xE0 ? 2
                           : lead < 0xF0 ? 3
                           : lead < 0xF5 ? 4
                                         : 0;
        if (length == 0 || i + length > bytes.size())
            return i;
        uint32_t code = lead & (0xFF >> (length + 1));
        for (int k = 1; k < length; ++k) {
            if (!IsContinuation(bytes[i + k]))
                return i;
            code = (code << 6) | (uchar(bytes[i + k]) & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return i;
        i += length;
    }
    return i;
}

// Large fillers: ASCII, and three- and two-byte characters, so a cut of the
// kept bound falls inside a character at every phase.
const std::array<QByteArray, 4>& Fillers() {
    static const std::array<QByteArray, 4> fillers = {
        QByteArray(kKept + 512, 'a'),
        QByteArray("\xe2\x82\xac").repeated(kKept / 3 + 512),
        QByteArray("\xc3\xa9").repeated(kKept / 2 + 512),
        QByteArray("x\xf0\x9f\x98\x80").repeated(kKept / 5 + 512),
    };
    return fillers;
}

// What the buffer must hold: the pieces since the last Clear, kept as
// views (fillers are never copied), of which only the tail can matter.
struct Model {
    void Clear() {
        pieces.clear();
        total = 0;
    }
    void Append(const QByteArray& piece) {
        pieces.append(piece);
        total += piece.size();
    }
    char Last() const {
        for (qsizetype i = pieces.size() - 1; i >= 0; --i)
            if (!pieces[i].isEmpty())
                return pieces[i].back();
        return 0;
    }
    // Whether `text` is what the buffer must show: the last kKept bytes
    // received, after a cut without the continuation bytes (at most three,
    // the most a character has) at their start. Compared in place, piece by
    // piece from the end, so no megabyte is copied.
    ZYL_CHECK_ONLY bool Shows(const QByteArray& text) const {
        const qint64 kept = std::min(total, qint64(kKept));
        const qint64 dropped = kept - text.size();
        if (dropped < 0 || dropped > (total > kKept ? 3 : 0))
            return false;
        qint64 end = text.size(); // of the part of `text` not yet compared
        qint64 skip = dropped;    // dropped bytes still to walk over
        for (qsizetype i = pieces.size() - 1; i >= 0 && (end > 0 || skip > 0); --i) {
            const QByteArray& piece = pieces[i];
            const qint64 take = std::min<qint64>(piece.size(), end);
            if (std::memcmp(piece.constData() + piece.size() - take, text.constData() + end - take,
                            size_t(take)) != 0)
                return false;
            end -= take;
            for (qint64 k = piece.size() - take - 1; k >= 0 && end == 0 && skip > 0; --k, --skip) {
                // A dropped byte is a continuation byte, and the text's first
                // byte follows the last one dropped only when three were.
                if (!IsContinuation(piece[k]))
                    return false;
            }
        }
        const bool stoppedEarly = dropped < 3 && !text.isEmpty() && IsContinuation(text[0]);
        return end == 0 && skip == 0 && !(total > kKept && stoppedEarly);
    }
    QList<QByteArray> pieces;
    qint64 total = 0;
};

void CheckShown(const QByteArray& reply) {
    const QByteArray shown = FieldText(reply);
    FUZZ_CHECK(shown.size() <= kShown);
    FUZZ_CHECK(reply.startsWith(shown));
    if (reply.size() <= kShown) {
        FUZZ_CHECK(shown == reply);
        return;
    }
    FUZZ_CHECK(shown.size() >= kShown - 3);
    // Valid text up to the cut stays valid: no character is cut in two.
    if (ValidUtf8Prefix(reply.left(kShown + 3)) >= kShown)
        FUZZ_CHECK(ValidUtf8Prefix(shown) == shown.size());
}

// Cheap after every piece.
void CheckState(const TReceiveBuffer& buffer, const Model& model) {
    FUZZ_CHECK(buffer.StoredSize() <= 2 * kKept);
    FUZZ_CHECK(buffer.IsComplete() == (model.Last() == ']'));
}

// The whole text, once per input. After a cut it starts at a character,
// unless the bytes there are no UTF-8 at all (more than three continuation
// bytes in a row).
void CheckText(const TReceiveBuffer& buffer, const Model& model) {
    const QByteArray text = buffer.Text();
    FUZZ_CHECK(text.size() <= kKept);
    FUZZ_CHECK(model.Shows(text));
    CheckShown(text);
}

// What one input may spend: a large piece and a look at the shown text each
// walk kilobytes, so a few of each are enough to reach every cut.
struct Budget {
    int large = 2;
    int looks = 2;
};

// Reads one operation; false at the end of the input.
bool Step(const uint8_t*& data, const uint8_t* end, TReceiveBuffer& buffer, Model& model,
          Budget& budget) {
    if (data == end)
        return false;
    const uint8_t op = *data++;
    const size_t argument = data < end ? *data++ : 0;
    QByteArray piece;
    if (op % 4 == 0) {
        buffer.Clear();
        model.Clear();
        return true;
    }
    if (op % 4 == 3) {
        if (budget.looks-- > 0)
            CheckShown(buffer.Text());
        return true;
    }
    if (op % 4 == 2 && budget.large > 0) {
        --budget.large;
        piece = QByteArray::fromRawData(Fillers()[op / 4 % 4].constData(),
                                        kKept - 256 + qsizetype(argument) * 2);
    } else {
        piece = QByteArray(reinterpret_cast<const char*>(data),
                           qsizetype(std::min<size_t>(argument, size_t(end - data))));
        data += piece.size();
    }
    buffer.Append(piece);
    model.Append(piece);
    CheckState(buffer, model);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TReceiveBuffer buffer(kKept);
    Model model;
    const uint8_t* end = data + size;
    Budget budget;
    while (Step(data, end, buffer, model, budget)) {
    }
    CheckText(buffer, model);
    return 0;
}
