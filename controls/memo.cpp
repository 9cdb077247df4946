#include "controls/memo.h"

#include "base/text.h"

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Programmatic changes block this signal, so it reports only typing.
    connect(this, &QPlainTextEdit::textChanged, this, [this] { Store(TextBytes(toPlainText())); });
}

void TMemo::Store(const QByteArray& text) {
    m_text = UpToNul(text);
    m_lineCount = 0;
    for (qsizetype start = 0; start < m_text.size(); start = FindLineEnd(m_text, start).next)
        ++m_lineCount;
}

void TMemo::SetText(const QByteArray& text) {
    Store(text);
    m_displayStale = true;
    if (isVisible())
        SyncDisplay();
}

void TMemo::SetLines(const QList<QByteArray>& lines) {
    QByteArray text;
    for (const QByteArray& line : lines)
        text += line + "\r\n";
    SetText(text);
}

QByteArray TMemo::Line(qsizetype index) const {
    qsizetype start = 0;
    for (qsizetype i = 0; i < index && start < m_text.size(); ++i)
        start = FindLineEnd(m_text, start).next;
    const TLineSpan span = FindLineEnd(m_text, start);
    return m_text.mid(start, qMin(span.end - start, kMaxLineLength));
}

void TMemo::showEvent(QShowEvent* event) {
    if (m_displayStale)
        SyncDisplay();
    QPlainTextEdit::showEvent(event);
}

void TMemo::SyncDisplay() {
    const QSignalBlocker blocker(this);
    setPlainText(DisplayText(m_text));
    m_displayStale = false;
}
