// Icon 128, the program's icon, drawn at 32 x 32 and 16 x 16 in 16 colours.
#pragma once

#include <QIcon>
#include <QImage>

namespace tarnwick::ui {

// The two images of the icon; these need no running application.
QImage AppIconImage32();
QImage AppIconImage16();

// Both images as one icon, for windows and the About box.
QIcon ApplicationIcon();

}  // namespace tarnwick::ui
