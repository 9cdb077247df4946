#include "controls/statusbar.h"

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
}

void TStatusBar::SetSimpleText(const QByteArray& text) {
    m_simpleText = text;
    emit SimpleTextWritten(text);
}
