#include "controls/bitbtn.h"

#include "base/guard.h"
#include "base/text.h"
#include "controls/look.h"

#include <QIcon>
#include <QKeyEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {
constexpr int kSpacing = 4; // between glyph and caption
}

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] { Guarded([this] { OnClick(this); }); });
}

void TBitBtn::SetCaption(const QByteArray& caption) {
    m_caption = caption;
    setText(DisplayText(caption));
}

void TBitBtn::SetGlyph(const QString& path) {
    m_glyph = WithoutLowerLeftColour(QPixmap(path));
    update();
}

void TBitBtn::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    const QRect content = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QSize glyphSize =
        m_glyph.isNull() ? QSize(0, 0) : m_glyph.deviceIndependentSize().toSize();
    const QSize textSize = fontMetrics().size(Qt::TextShowMnemonic, text());
    const int gap = (glyphSize.isEmpty() || text().isEmpty()) ? 0 : kSpacing;
    QRect glyphRect, textRect;
    if (m_layout == TLayout::GlyphTop) {
        const int top = content.center().y() - (glyphSize.height() + gap + textSize.height()) / 2;
        glyphRect = QRect(QPoint(content.center().x() - glyphSize.width() / 2, top), glyphSize);
        textRect = QRect(content.left(), top + glyphSize.height() + gap, content.width(),
                         textSize.height());
    } else {
        const int left = content.center().x() - (glyphSize.width() + gap + textSize.width()) / 2;
        glyphRect = QRect(QPoint(left, content.center().y() - glyphSize.height() / 2), glyphSize);
        textRect = QRect(left + glyphSize.width() + gap, content.top(), textSize.width(),
                         content.height());
    }
    if (!m_glyph.isNull()) {
        const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
        painter.drawPixmap(glyphRect, QIcon(m_glyph).pixmap(glyphSize, devicePixelRatioF(), mode));
    }
    painter.drawItemText(textRect, Qt::AlignCenter | Qt::TextShowMnemonic, option.palette,
                         isEnabled(), text(), QPalette::ButtonText);
}

void TBitBtn::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QPushButton::keyPressEvent(event);
}
