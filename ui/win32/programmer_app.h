// The application object: runs the main dialog modally and closes the serial
// port when the operator leaves through Exit.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tarnwick::win32 {

class CProgrammerApp {
 public:
  // Runs the program's whole life; always FALSE, so no message loop follows.
  BOOL InitInstance(HINSTANCE instance);
};

}  // namespace tarnwick::win32
