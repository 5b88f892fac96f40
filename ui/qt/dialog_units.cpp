#include "dialog_units.h"

#include <QFontMetrics>
#include <cstdint>

namespace tarnwick::ui {

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QStringLiteral(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // Width of 52 letters / 52, rounded: (w / 26 + 1) / 2.
  return {(letters / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  std::int64_t product = static_cast<std::int64_t>(number) * numerator;
  std::int64_t divisor = denominator;
  if (divisor < 0) {
    divisor = -divisor;
    product = -product;
  }
  const std::int64_t half = divisor / 2;
  const std::int64_t rounded = product >= 0 ? (product + half) / divisor : -((-product + half) / divisor);
  return static_cast<int>(rounded);
}

QRect DialogUnitsToPixels(int x, int y, int width, int height, DialogBaseUnits base) {
  return {MulDiv(x, base.x, 4), MulDiv(y, base.y, 8), MulDiv(width, base.x, 4),
          MulDiv(height, base.y, 8)};
}

QRect ControlRect(const DialogControl& control, DialogBaseUnits base) {
  return DialogUnitsToPixels(control.x, control.y, control.width, control.height, base);
}

QSize ClientSize(const DialogTemplate& dialog, DialogBaseUnits base) {
  return DialogUnitsToPixels(0, 0, dialog.width, dialog.height, base).size();
}

QFont TemplateFont(const DialogTemplate& dialog) {
  QFont font(QString::fromLatin1(dialog.fontFace));
  font.setPointSize(dialog.fontPointSize);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace tarnwick::ui
