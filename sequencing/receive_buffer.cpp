#include "sequencing/receive_buffer.h"

#include "base/text.h"

namespace {
bool IsContinuationByte(char byte) {
    return (uchar(byte) & 0xC0) == 0x80; // 10xxxxxx
}
} // namespace

void TReceiveBuffer::Append(const QByteArray& piece) {
    m_received += piece.size();
    if (piece.size() >= m_maxKept) {
        m_dropped = m_dropped || !m_text.isEmpty() || piece.size() > m_maxKept;
        m_text = piece.right(m_maxKept);
        return;
    }
    if (m_text.size() + piece.size() > 2 * m_maxKept) {
        m_text.remove(0, m_text.size() - m_maxKept);
        m_dropped = true;
    }
    m_text += piece;
}

QByteArray TReceiveBuffer::Text() const {
    const bool cut = m_dropped || m_text.size() > m_maxKept;
    QByteArray text = m_text.size() > m_maxKept ? m_text.right(m_maxKept) : m_text;
    if (cut) {
        qsizetype start = 0;
        // A UTF-8 sequence has at most three continuation bytes.
        while (start < 3 && start < text.size() && IsContinuationByte(text[start]))
            ++start;
        text.remove(0, start);
    }
    return text;
}

QByteArray FieldText(const QByteArray& reply) {
    if (reply.size() <= kMaxLineLength)
        return reply;
    qsizetype cut = kMaxLineLength;
    // Back off over UTF-8 continuation bytes, at most three.
    for (int i = 0; i < 3 && cut > 0 && IsContinuationByte(reply[cut]); ++i)
        --cut;
    return reply.left(cut);
}
