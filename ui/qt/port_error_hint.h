// Advice for the operator when a serial port cannot be opened for lack of
// permission: the operating system's words alone don't say what to do.
#pragma once

#include <string>

namespace tarnwick::ui {

// `detail` as the port reported it ("/dev/ttyUSB0: Permission denied"); when
// it is a permission error, adds which group owns the device and how to join
// it. Any other detail comes back unchanged.
std::string WithPermissionHint(const std::string& detail);

}  // namespace tarnwick::ui
