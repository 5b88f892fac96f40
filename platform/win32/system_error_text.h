// The system's words for a Win32 error code, on one line.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>

namespace tarnwick::win32 {

// Writes the system's message for `code` into `out` (at most `size` bytes,
// always terminated), without the line break and full stop it ends in; "system
// error N" when the system has no message for it.
void SystemErrorText(DWORD code, char* out, std::size_t size);

// The same for a serial port that failed to open: a port has one user at a
// time, so the system's refusal is explained as another program holding it.
void PortOpenErrorText(DWORD code, char* out, std::size_t size);

}  // namespace tarnwick::win32
