// The main dialog, template 102: turns button clicks and timer ticks into
// calls of the engine, and gives the engine the window operations it needs.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <bitset>
#include <string>

#include "run_machine.h"
#include "win32_image_file.h"
#include "win32_serial_port.h"
#include "window_ops.h"

namespace tarnwick::win32 {

class CProgrammerDlg final : public WindowOps {
 public:
  explicit CProgrammerDlg(HINSTANCE instance);
  CProgrammerDlg(const CProgrammerDlg&) = delete;
  CProgrammerDlg& operator=(const CProgrammerDlg&) = delete;

  // Runs the dialog modally: IDCANCEL (Exit, Esc, the close box), IDOK (Enter
  // with no push button focused), or -1 when the engine ended the program.
  INT_PTR DoModal();
  // Leaving through Exit: the port is closed if it is open.
  void CloseSerialPort() { engine_.OnExit(); }
  // Has COM(index + 1) open another port, such as "COM12".
  void MapPort(std::size_t index, const char* device) { port_.MapPort(index, device); }
  // The tooltip of the status line, which carries the status detail.
  HWND statusTip() const { return statusTip_; }

  // WindowOps
  void SetStatusText(const char* text) override;
  void SetStatusDetail(const char* detail) override;
  void SetReadout(int controlId, std::uint32_t value) override;
  void EnableControl(int controlId, bool enabled) override;
  void SetProgressRange(std::uint32_t maximum) override;
  void SetProgressPosition(std::uint32_t position) override;
  bool StartTimer() override;
  void KillTimer() override;
  void ShowMessage(const char* text, MessageIcon icon) override;
  void DestroyMainWindow() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  BOOL OnInitDialog();
  bool OnSysCommand(WPARAM command);
  bool OnPaint();
  void OnCommand(WORD id, WORD code);
  void OnLoadFile();
  void CreateStatusTip();
  void SetStatusTip(const char* text);
  // The window that a box opened now must be owned by.
  HWND BoxOwner() const;
  // Whether the dialog manager may act on this message (a key held down is
  // sorted out here).
  bool TakesKey(const MSG& message);
  static LRESULT CALLBACK KeyFilter(int code, WPARAM wParam, LPARAM lParam);

  HINSTANCE instance_;
  HWND window_ = nullptr;
  HWND statusTip_ = nullptr;
  // The tooltip's text, kept while it shows; filled without allocating, as
  // the engine sets it while a run goes.
  std::array<wchar_t, 1024> statusDetail_{};
  HICON icon_;
  std::wstring appName_;  // caption of every message box
  // The thread's message filter, which sees each message before the dialog
  // manager acts on it.
  HHOOK keyFilter_ = nullptr;
  // The keys held down, as the thread's modal loops saw them go down and not
  // yet up; and those of them whose first key-down the dialog took (a key
  // pressed in a box that has closed since is not among these).
  std::bitset<256> keysDown_;
  std::bitset<256> keysPressedHere_;
  // The progress bar's range is that of an empty image.
  bool progressEmpty_ = false;
  Win32SerialPort port_;
  Win32ImageFile imageFile_;
  ProgrammerEngine engine_{port_, *this, imageFile_};
};

}  // namespace tarnwick::win32
