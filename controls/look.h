#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>

// The system colours the windows are designed with, mapped onto the
// application palette.
enum class TColor { clBtnFace, clWindow, clWindowText, clMenu, clNavy, clBlack, clRed };
QColor ColorOf(TColor color);

// A font at a pixel height (pixels at 96 dpi; Qt scales them with the screen).
// The window face is the nearest installed match of the designed sans serif;
// the About window's face is the metric-compatible Carlito.
enum class TFace { Window, About };
QFont MakeFont(TFace face, int pixelHeight, bool bold = false, bool italic = false);

// The picture with the colour of its lower-left pixel left out (the
// transparent colour of glyphs and the logo).
QPixmap WithoutLowerLeftColour(QPixmap picture);
