#include "controls/accessible.h"
#include "controls/panel.h"
#include "controls/statusbar.h"

#include <QPainter>

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) { setSizeGripEnabled(false); }

void TStatusBar::SetSimpleText(const QByteArray& text) {
    m_simpleText = text;
    emit SimpleTextWritten(text);
}

TPanel::TPanel(QWidget* parent, TColor color) : QWidget(parent) {
    QPalette p = palette();
    p.setColor(QPalette::Window, ColorOf(color));
    setPalette(p);
    setAutoFillBackground(true);
}

TImage::TImage(QWidget* parent) : QWidget(parent) {
    InstallAccessibleRoles();
}

void TImage::LoadPicture(const QString& path) {
    m_picture = QPixmap(path);
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    if (m_picture.isNull())
        return;
    QPixmap picture = m_picture;
    if (m_transparent) {
        const QImage image = picture.toImage();
        picture.setMask(picture.createMaskFromColor(image.pixelColor(0, image.height() - 1)));
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (m_stretch)
        painter.drawPixmap(rect(), picture);
    else
        painter.drawPixmap(QPoint(0, 0), picture);
}
