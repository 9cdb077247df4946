#pragma once

#include <QByteArray>

// The reply being gathered. A controller that floods without ever ending a
// reply must not exhaust memory, so the reply is the last maxKept bytes
// received (kMaxKept unless a test asks for a smaller bound); the completion
// test looks at the last byte received, which is always kept. Older bytes are
// dropped in batches (the store holds at most twice maxKept), so a flood of
// small pieces costs no copying per piece.
class TReceiveBuffer {
public:
    static constexpr qsizetype kMaxKept = 1024 * 1024;

    explicit TReceiveBuffer(qsizetype maxKept = kMaxKept) : m_maxKept(maxKept) {}

    void Clear() {
        m_text.clear();
        m_dropped = false;
        m_received = 0;
    }
    void Append(const QByteArray& piece);
    // A reply is complete when the last byte received is "]".
    bool IsComplete() const { return !m_text.isEmpty() && m_text.back() == ']'; }
    // The reply: at most the last maxKept bytes received. Once older bytes
    // were dropped it starts at a character boundary: UTF-8 continuation
    // bytes left at its start by the cut are dropped too.
    QByteArray Text() const;
    qsizetype StoredSize() const { return m_text.size(); }
    // Bytes appended since the last Clear, kept or dropped.
    qsizetype ReceivedSize() const { return m_received; }

private:
    qsizetype m_maxKept;
    QByteArray m_text;
    bool m_dropped = false; // bytes were dropped since the last Clear
    qsizetype m_received = 0;
};

// The most of a reply a result field shows: its first 4096 bytes, cut back to
// the start of a UTF-8 sequence so valid text stays valid.
QByteArray FieldText(const QByteArray& reply);
