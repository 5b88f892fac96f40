// Entry point of the Windows program.
#include "programmer_app.h"

namespace {
tarnwick::win32::CProgrammerApp theApp;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  theApp.InitInstance(instance);
  return 0;
}
