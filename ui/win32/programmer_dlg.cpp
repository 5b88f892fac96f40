#include "programmer_dlg.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "about_dlg.h"
#include "app_name.h"
#include "resource.h"
#include "wide_text.h"
#include "window_placement.h"

namespace tarnwick::win32 {

namespace {
constexpr UINT kTimerPeriod = kTimerPeriodMs;
constexpr UINT_PTR kRunTimer = static_cast<UINT_PTR>(kTimerId);
// The result of a modal run that the engine ended by destroying the window.
constexpr INT_PTR kEndedByEngine = -1;
// Room for any text the engine shows on the status line (a port's name in it
// is cut well below this), in UTF-16 units with the terminator.
constexpr std::size_t kShownTextUnits = 4608;

// The dialog whose keys the thread's message filter sorts: one modal run at a time.
thread_local CProgrammerDlg* keyFilterDialog = nullptr;

// `text` (UTF-8) in UTF-16 in `out`, without allocating; a text too long for
// `out` is cut at a whole character, with room left for its end.
template <std::size_t N>
void WidenShown(const char* text, std::array<wchar_t, N>& out) {
  if (WidenInto(text != nullptr ? text : "", out.data(), out.size())) return;
  // A UTF-8 text never takes more UTF-16 units than it has bytes.
  std::array<char, N> cut{};
  std::size_t length = std::min(std::strlen(text), N - 1);
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  std::memcpy(cut.data(), text, length);
  if (!WidenInto(cut.data(), out.data(), out.size())) out[0] = L'\0';
}

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
      icon_(::LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))),
      appName_(Widen(ApplicationDisplayName())) {}

INT_PTR CProgrammerDlg::DoModal() {
  keysDown_.reset();
  keysPressedHere_.reset();
  CProgrammerDlg* const outer = keyFilterDialog;
  keyFilterDialog = this;
  keyFilter_ = ::SetWindowsHookExW(WH_MSGFILTER, KeyFilter, nullptr, ::GetCurrentThreadId());
  const INT_PTR result = ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_TARNWICK_DIALOG), nullptr, DialogProc,
                                           reinterpret_cast<LPARAM>(this));
  if (keyFilter_ != nullptr) ::UnhookWindowsHookEx(keyFilter_);
  keyFilter_ = nullptr;
  keyFilterDialog = outer;
  return result;
}

// Every modal loop of the thread (the dialog's own, a message box's, the file
// dialog's) hands each message to this filter before the dialog manager acts
// on it.
LRESULT CALLBACK CProgrammerDlg::KeyFilter(int code, WPARAM wParam, LPARAM lParam) {
  CProgrammerDlg* const dialog = keyFilterDialog;
  if (code >= 0 && dialog != nullptr && !dialog->TakesKey(*reinterpret_cast<const MSG*>(lParam))) return TRUE;
  return ::CallNextHookEx(dialog != nullptr ? dialog->keyFilter_ : nullptr, code, wParam, lParam);
}

// A key held down repeats its key-down. The dialog manager acts on each one:
// Enter presses the focused button, Esc ends the dialog. So a key pressed to
// close a box, when held, would go on in the dialog once the box is gone,
// where the focus may be on Exit (Program hands it on). The dialog takes the
// repeats only of a key whose first key-down it took itself, and none of
// Enter: a held Enter presses one button once, not the one it moves to next.
bool CProgrammerDlg::TakesKey(const MSG& message) {
  const bool down = message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN;
  const bool up = message.message == WM_KEYUP || message.message == WM_SYSKEYUP;
  if ((!down && !up) || window_ == nullptr) return true;
  const std::size_t key = message.wParam & 0xFF;
  if (up) {
    keysDown_.reset(key);
    keysPressedHere_.reset(key);
    return true;
  }
  const bool here = message.hwnd == window_ || ::IsChild(window_, message.hwnd);
  // The system marks a repeat as one, but not every system does (Wine does not
  // for input that a program sends): a key-down with no key-up since the
  // last is one too.
  const bool repeated = (message.lParam & (LPARAM{1} << 30)) != 0 || keysDown_.test(key);
  if (!repeated) {
    keysDown_.set(key);
    keysPressedHere_.set(key, here);
    return true;
  }
  if (!here) return true;
  return keysPressedHere_.test(key) && key != VK_RETURN;
}

INT_PTR CALLBACK CProgrammerDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<CProgrammerDlg*>(lParam);
    self->window_ = dialog;
  }
  auto* self = reinterpret_cast<CProgrammerDlg*>(::GetWindowLongPtrW(dialog, DWLP_USER));
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
    std::array<wchar_t, 128> aboutText{};
    if (::LoadStringW(instance_, IDS_ABOUTBOX, aboutText.data(), static_cast<int>(aboutText.size())) > 0) {
      ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText.data());
    }
  }
  ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
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
  ::SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
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
  // Names in any script, and paths longer than MAX_PATH.
  std::wstring path(32768, L'\0');
  path.replace(0, 5, L"*.UPL");
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = L"UPL";
  dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  // Timer ticks go on during the file dialog; the run keeps being served.
  if (!::GetOpenFileNameW(&dialog)) return;
  path.resize(path.find(L'\0'));
  engine_.LoadFile(Narrow(path));
}

void CProgrammerDlg::CreateStatusTip() {
  statusTip_ =
      ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
  if (statusTip_ == nullptr) return;
  // A static control lets the mouse through to the dialog, so the tool is the
  // status line's rectangle of the dialog.
  TOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = IDC_STATUS;
  HWND status = ::GetDlgItem(window_, IDC_STATUS);
  ::GetWindowRect(status, &tool.rect);
  ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&tool.rect), 2);
  tool.lpszText = statusDetail_.data();
  ::SendMessageW(statusTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  // Room for a long system message.
  ::SendMessageW(statusTip_, TTM_SETMAXTIPWIDTH, 0, 400);
}

void CProgrammerDlg::SetStatusTip(const char* text) {
  WidenShown(text, statusDetail_);
  if (statusTip_ == nullptr) return;
  TOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = window_;
  tool.uId = IDC_STATUS;
  tool.lpszText = statusDetail_.data();
  ::SendMessageW(statusTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CProgrammerDlg::SetStatusText(const char* text) {
  // On the stack: the engine sets the status line at every step of a run.
  std::array<wchar_t, kShownTextUnits> shown;
  WidenShown(text, shown);
  ::SetDlgItemTextW(window_, IDC_STATUS, shown.data());
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
      ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
    }
  }
  ::EnableWindow(control, enabled ? TRUE : FALSE);
}

void CProgrammerDlg::SetProgressRange(std::uint32_t maximum) {
  // A range of 0 to 0 draws an empty bar whatever the position. An empty
  // image is wholly sent with its one empty block: its bar stands full.
  progressEmpty_ = maximum == 0;
  // The 32-bit range message: 65,536 does not fit the 16-bit one.
  ::SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETRANGE32, 0, static_cast<LPARAM>(progressEmpty_ ? 1 : maximum));
}

void CProgrammerDlg::SetProgressPosition(std::uint32_t position) {
  ::SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(progressEmpty_ ? 1 : position), 0);
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
  // On the stack as the status line's texts, but for a long path in a load's message.
  std::array<wchar_t, kShownTextUnits> shown;
  if (WidenInto(text, shown.data(), shown.size())) {
    ::MessageBoxW(BoxOwner(), shown.data(), appName_.c_str(), MB_OK | IconStyle(icon));
  } else {
    ::MessageBoxW(BoxOwner(), Widen(text).c_str(), appName_.c_str(), MB_OK | IconStyle(icon));
  }
}

void CProgrammerDlg::DestroyMainWindow() {
  // Ends the modal run with -1; the dialog box's loop then destroys the window.
  ::KillTimer(window_, kRunTimer);
  ::EndDialog(window_, kEndedByEngine);
}

}  // namespace tarnwick::win32
