#pragma once

#include <QProxyStyle>

// The application's style, with the frame and background of a TEdit drawn
// from a picture kept per look (size, state, colours) instead of being
// rasterised anew at every repaint: the result fields are wide and a reply
// repaints two of them. What is drawn is the base style's own drawing. Set on
// single widgets, so the application's palette stays the platform's.
class TFieldStyle : public QProxyStyle {
    Q_OBJECT
public:
    TFieldStyle();

    // The one instance the fields share; it ends with the application.
    static TFieldStyle* Shared();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
};
