#pragma once

#include "controls/look.h"

#include <QByteArray>
#include <QLineEdit>

// Single-line text field. Its text is bytes: what the program sets is kept
// byte for byte (up to a NUL, where a control's text ends) and only decoded
// for display; what the operator types is taken as UTF-8.
class TEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEdit(QWidget* parent);

    const QByteArray& Text() const { return m_text; }
    void SetText(const QByteArray& text);
    void SetColor(TColor color);
    TColor Color() const { return m_color; }
    // The text's colour.
    void SetFontColor(TColor color);
    TColor FontColor() const { return m_fontColor; }
    // The tooltip, shown as plain text; empty: none.
    void SetHint(const QByteArray& hint);
    const QByteArray& Hint() const { return m_hint; }

private:
    QByteArray m_text;
    TColor m_color = TColor::clWindow;
    TColor m_fontColor = TColor::clWindowText;
    QByteArray m_hint;
};
