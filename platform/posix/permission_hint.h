// Advice for the operator when a serial port cannot be opened for lack of
// permission: the operating system's words alone don't say what to do.
#pragma once

#include <string>

namespace tarnwick {

// For EACCES or EPERM on `path`: which group the user must join and how,
// naming the group that owns the device ("your user must be in group
// "dialout", which owns /dev/ttyUSB0: sudo usermod ..."). Empty for any other error.
std::string PermissionAdvice(const std::string& path, int error);

// `detail` as the port reported it ("/dev/ttyUSB0: Permission denied"); when
// it is a permission error, the advice is added. Any other detail comes back unchanged.
std::string WithPermissionHint(const std::string& detail);

}  // namespace tarnwick
