#include "programmer_dlg.h"

#include <commctrl.h>
#include <commdlg.h>

#include <array>

#include "app_name.h"
#include "about_dlg.h"
#include "resource.h"
#include "window_placement.h"

namespace tarnwick::win32 {

namespace {
constexpr UINT kTimerPeriod = kTimerPeriodMs;
constexpr UINT_PTR kRunTimer = static_cast<UINT_PTR>(kTimerId);
// The result of a modal run that the engine ended by destroying the window.
constexpr INT_PTR kEndedByEngine = -1;

// The owned window of a modal stack that takes input: every window under it is disabled.
struct ModalSearch {
  HWND dialog;
  HWND found;
};

BOOL CALLBACK FindEnabledOwnedWindow(HWND window, LPARAM lParam) {
  auto& search = *reinterpret_cast<ModalSearch*>(lParam);
  if (!::IsWindowVisible(window) || !::IsWindowEnabled(window)) return TRUE;
  for (HWND owner = ::GetWindow(window, GW_OWNER); owner != nullptr; owner = ::GetWindow(owner, GW_OWNER)) {
    if (owner == search.dialog) {
      search.found = window;
      return FALSE;
    }
  }
  return TRUE;
}

UINT IconStyle(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return MB_ICONINFORMATION;
    case MessageIcon::Stop:
      return MB_ICONSTOP;
    case MessageIcon::Exclamation:
      break;
  }
  return MB_ICONEXCLAMATION;
}
}  // namespace

CProgrammerDlg::CProgrammerDlg(HINSTANCE instance)
    : instance_(instance),
      icon_(::LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))),
      appName_(ApplicationDisplayName()) {}

INT_PTR CProgrammerDlg::DoModal() {
  return ::DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_TARNWICK_DIALOG), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CProgrammerDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<CProgrammerDlg*>(lParam);
    self->window_ = dialog;
  }
  auto* self = reinterpret_cast<CProgrammerDlg*>(::GetWindowLongPtrA(dialog, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->HandleMessage(message, wParam, lParam);
}

INT_PTR CProgrammerDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_SYSCOMMAND:
      return OnSysCommand(wParam) ? TRUE : FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      // Returned as it is: the cursor shown while the minimized window is dragged.
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_TIMER:
      engine_.OnTimer();
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL CProgrammerDlg::OnInitDialog() {
  HMENU systemMenu = ::GetSystemMenu(window_, FALSE);
  if (systemMenu != nullptr) {
    std::array<char, 128> aboutText{};
    if (::LoadStringA(instance_, IDS_ABOUTBOX, aboutText.data(), static_cast<int>(aboutText.size())) > 0) {
      ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText.data());
    }
  }
  ::SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  CreateStatusTip();
  engine_.OnInitDialog();
  CentreWindow(window_, nullptr);
  return TRUE;  // the first tab stop, Exit, gets the focus
}

bool CProgrammerDlg::OnSysCommand(WPARAM command) {
  if ((command & 0xFFF0) != IDM_ABOUTBOX) return false;  // the system's own commands
  CAboutDlg about(instance_);
  about.DoModal(window_);
  return true;
}

bool CProgrammerDlg::OnPaint() {
  if (!::IsIconic(window_)) return false;
  PAINTSTRUCT paint{};
  HDC context = ::BeginPaint(window_, &paint);
  ::SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
  RECT client{};
  ::GetClientRect(window_, &client);
  const int x = IconOffset(client.right - client.left, ::GetSystemMetrics(SM_CXICON));
  const int y = IconOffset(client.bottom - client.top, ::GetSystemMetrics(SM_CYICON));
  ::DrawIcon(context, x, y, icon_);
  ::EndPaint(window_, &paint);
  return true;
}

void CProgrammerDlg::OnCommand(WORD id, WORD code) {
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_LOAD_FILE:
      OnLoadFile();
      break;
    case IDC_PROGRAM:
      engine_.OnProgram();
      break;
    case IDC_STOP:
      engine_.OnStop();
      break;
    case IDOK:
    case IDCANCEL:
      ::EndDialog(window_, id);
      break;
    default:
      break;
  }
}

void CProgrammerDlg::OnLoadFile() {
  engine_.OnLoadFileStarted();
  std::array<char, MAX_PATH> path{"*.UPL"};
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = "UPL";
  dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  // Timer ticks go on during the file dialog; the run keeps being served.
  if (!::GetOpenFileNameA(&dialog)) return;
  engine_.LoadFile(path.data());
}

void CProgrammerDlg::CreateStatusTip() {
  statusTip_ = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                                 instance_, nullptr);
  if (statusTip_ == nullptr) return;
  // A static control lets the mouse through to the dialog, so the tool is the
  // status line's rectangle of the dialog.
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = IDC_STATUS;
  HWND status = ::GetDlgItem(window_, IDC_STATUS);
  ::GetWindowRect(status, &tool.rect);
  ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&tool.rect), 2);
  tool.lpszText = statusDetail_.data();
  ::SendMessageA(statusTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  // Room for a long system message.
  ::SendMessageA(statusTip_, TTM_SETMAXTIPWIDTH, 0, 400);
}

void CProgrammerDlg::SetStatusTip(const char* text) {
  statusDetail_ = text;
  if (statusTip_ == nullptr) return;
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = window_;
  tool.uId = IDC_STATUS;
  tool.lpszText = statusDetail_.data();
  ::SendMessageA(statusTip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void CProgrammerDlg::SetStatusText(const char* text) {
  ::SetDlgItemTextA(window_, IDC_STATUS, text);
  // A new status has no detail until the engine gives one.
  SetStatusTip("");
}

void CProgrammerDlg::SetStatusDetail(const char* detail) {
  if (detail == nullptr || *detail == '\0') return;
  SetStatusTip(detail);
}

void CProgrammerDlg::SetReadout(int controlId, std::uint32_t value) {
  ::SetDlgItemInt(window_, controlId, value, FALSE);
}

void CProgrammerDlg::EnableControl(int controlId, bool enabled) {
  HWND control = ::GetDlgItem(window_, controlId);
  if (!enabled && control != nullptr && ::GetFocus() == control) {
    // A control that is disabled loses the focus to no one, and with no
    // control focused the dialog takes no key at all, not even Esc. So the
    // focus goes on first, to the next tab stop, as Tab would take it.
    HWND next = ::GetNextDlgTabItem(window_, control, FALSE);
    if (next != nullptr && next != control) {
      ::SendMessageA(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
    }
  }
  ::EnableWindow(control, enabled ? TRUE : FALSE);
}

void CProgrammerDlg::SetProgressRange(std::uint32_t maximum) {
  // A range of 0 to 0 draws an empty bar whatever the position. An empty
  // image is wholly sent with its one empty block: its bar stands full.
  progressEmpty_ = maximum == 0;
  // The 32-bit range message: 65,536 does not fit the 16-bit one.
  ::SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETRANGE32, 0, static_cast<LPARAM>(progressEmpty_ ? 1 : maximum));
}

void CProgrammerDlg::SetProgressPosition(std::uint32_t position) {
  ::SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(progressEmpty_ ? 1 : position), 0);
}

bool CProgrammerDlg::StartTimer() { return ::SetTimer(window_, kRunTimer, kTimerPeriod, nullptr) != 0; }

void CProgrammerDlg::KillTimer() { ::KillTimer(window_, kRunTimer); }

HWND CProgrammerDlg::BoxOwner() const {
  if (::IsWindowEnabled(window_)) return window_;
  // A modal window is open over the dialog (the About box, the file dialog,
  // another box): a box opened from a tick goes over that window. Owned by the
  // dialog, its closing would enable the dialog under a modal window that still runs.
  ModalSearch search{window_, nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), FindEnabledOwnedWindow, reinterpret_cast<LPARAM>(&search));
  return search.found != nullptr ? search.found : window_;
}

void CProgrammerDlg::ShowMessage(const char* text, MessageIcon icon) {
  ::MessageBoxA(BoxOwner(), text, appName_.c_str(), MB_OK | IconStyle(icon));
}

void CProgrammerDlg::DestroyMainWindow() {
  // Ends the modal run with -1; the dialog box's loop then destroys the window.
  ::KillTimer(window_, kRunTimer);
  ::EndDialog(window_, kEndedByEngine);
}

}  // namespace tarnwick::win32
