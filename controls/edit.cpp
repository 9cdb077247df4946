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

// Both setters leave an unchanged field alone: no new palette, no repaint.
void TEdit::SetFontColor(TColor color) {
    if (color == m_fontColor)
        return;
    m_fontColor = color;
    QPalette p = palette();
    p.setColor(QPalette::Text, ColorOf(color));
    setPalette(p);
}

void TEdit::SetHint(const QByteArray& hint) {
    if (hint == m_hint)
        return;
    m_hint = hint;
    // A tooltip that looks like markup is taken as markup; escaped inside a
    // paragraph of its own, the text shows as it is.
    setToolTip(hint.isEmpty() ? QString()
                              : QStringLiteral("<p style='white-space:pre'>%1</p>")
                                    .arg(DisplayText(hint).toHtmlEscaped()));
}

void TEdit::SetColor(TColor color) {
    if (color == m_color)
        return;
    m_color = color;
    QPalette p = palette();
    p.setColor(QPalette::Base, ColorOf(color));
    setPalette(p);
}
