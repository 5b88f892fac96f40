#include "app_icon.h"

#include <QPixmap>

// The pixel maps are kept as XPM source in resources/.
#include "tarnwick-16.xpm"
#include "tarnwick-32.xpm"

namespace tarnwick::ui {

QImage AppIconImage32() { return QImage(tarnwick_32); }

QImage AppIconImage16() { return QImage(tarnwick_16); }

QIcon ApplicationIcon() {
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(AppIconImage32()));
  icon.addPixmap(QPixmap::fromImage(AppIconImage16()));
  return icon;
}

}  // namespace tarnwick::ui
