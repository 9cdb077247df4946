#include "controls/image.h"

#include "controls/accessible.h"
#include "controls/look.h"

#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent) {
    InstallAccessibleRoles();
}

void TImage::LoadPicture(const QString& path) {
    m_path = path;
    m_picture = QPixmap();
    m_shown = QPixmap();
    update();
}

const QPixmap& TImage::Picture() const {
    if (m_picture.isNull() && !m_path.isEmpty())
        m_picture = QPixmap(m_path);
    return m_picture;
}

void TImage::SetTransparent(bool transparent) {
    m_transparent = transparent;
    m_shown = QPixmap();
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    if (m_shown.isNull())
        m_shown = m_transparent ? WithoutLowerLeftColour(Picture()) : Picture();
    if (m_shown.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (m_stretch)
        painter.drawPixmap(rect(), m_shown);
    else
        painter.drawPixmap(QPoint(0, 0), m_shown);
}
