#pragma once

#include <QProxyStyle>

// The application's style, with the frame and background of a TEdit drawn
// from a picture kept per look (size, state, colours) instead of being
// rasterised anew at every repaint: the result fields are wide and a reply
// repaints two of them. What is drawn is the base style's own drawing.
class TFieldStyle : public QProxyStyle {
    Q_OBJECT
public:
    TFieldStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
};
