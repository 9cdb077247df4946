#include "controls/memo.h"

#include "base/text.h"

#include <QPlainTextEdit>

TMemo::TMemo(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

void TMemo::MakeEditor() {
    m_editor = new QPlainTextEdit(this);
    m_editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_editor->setGeometry(rect());
    setFocusProxy(m_editor);
    // Programmatic changes block this signal, so it reports only typing.
    connect(m_editor, &QPlainTextEdit::textChanged, this,
            [this] { Store(TextBytes(m_editor->toPlainText())); });
    m_editor->show();
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
    if (m_editor && isVisible())
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
    if (!m_editor)
        MakeEditor();
    if (m_displayStale)
        SyncDisplay();
    QWidget::showEvent(event);
}

void TMemo::resizeEvent(QResizeEvent* event) {
    if (m_editor)
        m_editor->setGeometry(rect());
    QWidget::resizeEvent(event);
}

void TMemo::SyncDisplay() {
    const QSignalBlocker blocker(m_editor);
    m_editor->setPlainText(DisplayText(m_text));
    m_displayStale = false;
}
