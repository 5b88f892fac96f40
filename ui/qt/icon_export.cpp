// Build-time helper: writes the program's icon as PNG files for installation
// into the desktop's icon theme. Usage: tarnwick-icon-export OUT32.png OUT16.png
#include <cstdio>

#include "app_icon.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fputs("usage: tarnwick-icon-export OUT32.png OUT16.png\n", stderr);
    return 2;
  }
  const bool saved = tarnwick::ui::AppIconImage32().save(QString::fromLocal8Bit(argv[1]), "PNG") &&
                     tarnwick::ui::AppIconImage16().save(QString::fromLocal8Bit(argv[2]), "PNG");
  if (!saved) {
    std::fputs("tarnwick-icon-export: cannot write the icon files\n", stderr);
    return 1;
  }
  return 0;
}
