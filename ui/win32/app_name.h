// The program's display name: the executable's file name without its
// extension. It captions every message box.
#pragma once

#include <string>

namespace tarnwick::win32 {

// "C:\\Tools\\tarnwick.exe" -> "tarnwick"; also for '/' separators and names
// without an extension.
std::string DisplayNameFromPath(const std::string& path);

std::string ApplicationDisplayName();

}  // namespace tarnwick::win32
