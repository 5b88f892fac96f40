// The application object: runs the main dialog modally and closes the serial
// port when the operator leaves through Exit.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <string>

namespace tarnwick::win32 {

class CProgrammerApp {
 public:
  // Runs the program's whole life; always FALSE, so no message loop follows.
  // `ports`: what COM1 to COM4 open instead of themselves ("COM12"; empty for none).
  BOOL InitInstance(HINSTANCE instance, const std::array<std::string, 4>& ports = {});
};

}  // namespace tarnwick::win32
