// The system's words for a Win32 error code, on one line.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tarnwick::win32 {

// Writes the system's message for `code` into `out` (at most `size` bytes,
// always terminated), without the line break and full stop it ends in; "system
// error N" when the system has no message for it.
void SystemErrorText(DWORD code, char* out, std::size_t size);

}  // namespace tarnwick::win32
