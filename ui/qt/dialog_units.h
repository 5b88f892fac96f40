// Dialog units: positions and sizes in a template are in units of the dialog
// font's average character size, a quarter of its width across and an eighth
// of its height down, so that a dialog grows with its font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "dialog_template.h"

namespace tarnwick::ui {

struct DialogBaseUnits {
  int x = 0;  // average character width, pixels
  int y = 0;  // character height, pixels
};

// The base units of `font`: the average width of the 52 letters A-Z and a-z,
// rounded to the nearest pixel, and the font's height.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// number * numerator / denominator, rounded to the nearest integer, halves away
// from zero, without overflowing in between.
int MulDiv(int number, int numerator, int denominator);

QRect DialogUnitsToPixels(int x, int y, int width, int height, DialogBaseUnits base);
QRect ControlRect(const DialogControl& control, DialogBaseUnits base);
QSize ClientSize(const DialogTemplate& dialog, DialogBaseUnits base);

// The template's font; where its face is missing, the font system's nearest match stands in.
QFont TemplateFont(const DialogTemplate& dialog);

}  // namespace tarnwick::ui
