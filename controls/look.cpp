#include "controls/look.h"

#include <QApplication>
#include <QPalette>

QColor ColorOf(TColor color) {
    const QPalette palette = QApplication::palette();
    switch (color) {
    case TColor::clBtnFace:
        return palette.color(QPalette::Window);
    case TColor::clWindow:
        return palette.color(QPalette::Base);
    case TColor::clWindowText:
        return palette.color(QPalette::WindowText);
    case TColor::clMenu:
        // The shade that marks the latest reply must stand out from the white
        // of the other fields, also where the style's menus are white.
        return palette.color(QPalette::Button).darker(108);
    case TColor::clNavy:
        return QColor(0, 0, 128);
    case TColor::clBlack:
        return Qt::black;
    case TColor::clRed:
        return QColor(255, 0, 0);
    }
    return {};
}

QFont MakeFont(TFace face, int pixelHeight, bool bold, bool italic) {
    QFont font(face == TFace::About ? QStringLiteral("Carlito")
                                    : QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QPixmap WithoutLowerLeftColour(QPixmap picture) {
    if (picture.isNull())
        return picture;
    const QImage image = picture.toImage();
    picture.setMask(picture.createMaskFromColor(image.pixelColor(0, image.height() - 1)));
    return picture;
}
