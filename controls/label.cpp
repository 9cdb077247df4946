#include "controls/label.h"

#include "base/text.h"
#include "controls/accessible.h"

#include <QEvent>
#include <QPainter>

namespace {
constexpr int kTextFlags = Qt::TextShowMnemonic | Qt::TextSingleLine;
}

TLabel::TLabel(QWidget* parent) : QWidget(parent) {
    InstallAccessibleRoles();
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
}

void TLabel::SetCaption(const QByteArray& caption) {
    m_caption = UpToNul(caption);
    setAccessibleName(ShownText());
    AutoSize();
    update();
}

void TLabel::SetTransparent(bool transparent) {
    setAutoFillBackground(!transparent);
}

void TLabel::SetTextColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

QString TLabel::ShownText() const {
    const QString text = DisplayText(m_caption);
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        shown.append(text[i]);
    }
    return shown;
}

void TLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), kTextFlags | Qt::AlignLeft | Qt::AlignTop, DisplayText(m_caption));
}

void TLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        AutoSize();
    QWidget::changeEvent(event);
}

void TLabel::AutoSize() {
    const QFontMetrics metrics(font());
    const QSize size(metrics.size(kTextFlags, DisplayText(m_caption)).width(), metrics.height());
    QRect r = geometry();
    if (m_alignment == TAlignment::RightJustify)
        r.setLeft(r.right() + 1 - size.width());
    r.setSize(size);
    setGeometry(r);
}
