#include "controls/edit.h"

#include "base/text.h"

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {
    setFrame(true);
    connect(this, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_text = TextBytes(text); });
}

void TEdit::SetText(const QByteArray& text) {
    m_text = UpToNul(text);
    setText(DisplayText(m_text));
    setCursorPosition(0);
}

void TEdit::SetColor(TColor color) {
    if (color == m_color)
        return;
    m_color = color;
    QPalette p = palette();
    p.setColor(QPalette::Base, ColorOf(color));
    setPalette(p);
}
