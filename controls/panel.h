#pragma once

#include "controls/look.h"

#include <QWidget>

// Container rectangle filled with its colour, no bevel.
class TPanel : public QWidget {
    Q_OBJECT
public:
    TPanel(QWidget* parent, TColor color);
};
