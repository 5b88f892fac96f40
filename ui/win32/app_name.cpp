#include "app_name.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <string>

#include "wide_text.h"

namespace tarnwick::win32 {

std::string DisplayNameFromPath(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string ApplicationDisplayName() {
  // In UTF-16, whatever the folder or the program is called; a long path's
  // room grows until it fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size() || path.size() >= 32768) {
      path.resize(std::min<std::size_t>(length, path.size()));
      break;
    }
    path.resize(path.size() * 2);
  }
  return DisplayNameFromPath(Narrow(path));
}

}  // namespace tarnwick::win32
