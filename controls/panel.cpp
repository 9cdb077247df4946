#include "controls/panel.h"

TPanel::TPanel(QWidget* parent, TColor color) : QWidget(parent) {
    QPalette p = palette();
    p.setColor(QPalette::Window, ColorOf(color));
    setPalette(p);
    setAutoFillBackground(true);
}
