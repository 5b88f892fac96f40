// The About box, dialog template 100, opened from the system menu.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tarnwick::win32 {

class CAboutDlg {
 public:
  explicit CAboutDlg(HINSTANCE instance) : instance_(instance) {}
  // Modal, owned by `owner` (disabled meanwhile) and centred over it.
  INT_PTR DoModal(HWND owner);

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  HINSTANCE instance_;
};

}  // namespace tarnwick::win32
