#include "sequencing/receive_buffer.h"

#include "base/text.h"

TReceiveBuffer ReceiveBuffer;

void TReceiveBuffer::Append(const QByteArray& piece) {
    if (piece.size() >= kMaxKept) {
        m_text = piece.right(kMaxKept);
        return;
    }
    if (m_text.size() + piece.size() > 2 * kMaxKept)
        m_text.remove(0, m_text.size() - kMaxKept);
    m_text += piece;
}

QByteArray TReceiveBuffer::Text() const {
    return m_text.size() > kMaxKept ? m_text.right(kMaxKept) : m_text;
}

QByteArray ShownReply(const QByteArray& reply) {
    if (reply.size() <= kMaxLineLength)
        return reply;
    qsizetype cut = kMaxLineLength;
    // Back off over UTF-8 continuation bytes (10xxxxxx), at most three.
    for (int i = 0; i < 3 && cut > 0 && (uchar(reply[cut]) & 0xC0) == 0x80; ++i)
        --cut;
    return reply.left(cut);
}
