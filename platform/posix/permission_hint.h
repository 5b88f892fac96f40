// Advice for the operator when a serial port cannot be opened for lack of
// permission: the operating system's words alone don't say what to do.
#pragma once

#include <string>

namespace tarnwick {

class PosixSerialPort;

// For EACCES or EPERM on `path`: which group the user must join and how,
// naming the group that owns the device ("your user must be in group
// "dialout", which owns /dev/ttyUSB0: sudo usermod ..."). Empty for any other error.
std::string PermissionAdvice(const std::string& path, int error);

// `detail` as the engine shows it; when it is `port`'s own last error and
// that error is a lack of permission, with the group advice added
// ("/dev/ttyUSB0: Permission denied. Your user must be in group ...").
// Anything else comes back unchanged.
std::string WithPermissionHint(const PosixSerialPort& port, const std::string& detail);

}  // namespace tarnwick
