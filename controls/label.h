#pragma once

#include <QByteArray>
#include <QWidget>

// Static text, not focusable. Sizes itself to its caption (auto-size): a
// left-justified label keeps its left edge, a right-justified one its right
// edge. "&" marks the next character as a mnemonic (underlined, not shown);
// "&&" shows one "&". The caption is always plain text.
class TLabel : public QWidget {
    Q_OBJECT
public:
    enum class TAlignment { LeftJustify, RightJustify };

    explicit TLabel(QWidget* parent);

    const QByteArray& Caption() const { return m_caption; }
    void SetCaption(const QByteArray& caption);
    void SetAlignment(TAlignment alignment) { m_alignment = alignment; }
    // Transparent labels draw only their text over what lies behind.
    void SetTransparent(bool transparent);
    void SetTextColor(const QColor& color);

    // The caption as shown: mnemonic markers resolved.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void AutoSize();

    QByteArray m_caption;
    TAlignment m_alignment = TAlignment::LeftJustify;
};
