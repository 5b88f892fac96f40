// The Windows program's resources and main dialog, inside the program's own
// process: the templates against the layout table the Qt front end is built
// from, the icon, the system menu, the window icons and how a modal run ends.
#include "programmer_dlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app_name.h"
#include "command_line.h"
#include "resource.h"
#include "ui/qt/dialog_template.h"
#include "window_placement.h"

namespace tarnwick::win32 {
namespace {

using ui::ControlKind;

// One control of a compiled dialog template, in the terms of the layout table.
struct TemplateControl {
  int id = 0;
  ControlKind kind = ControlKind::StaticText;
  std::string text;
  int iconId = 0;  // a static icon names its icon by number
  int x = 0, y = 0, width = 0, height = 0;
  unsigned styles = 0;
  DWORD rawStyle = 0;
};

struct CompiledTemplate {
  bool extended = false;
  DWORD style = 0, exStyle = 0;
  int width = 0, height = 0;
  std::string title, fontFace;
  int pointSize = 0, fontWeight = 0, charset = -1;
  std::vector<TemplateControl> controls;
};

// Reads the little-endian words of a compiled template in order.
class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* bytes) : at_(bytes) {}
  WORD Word() {
    WORD value;
    std::memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  DWORD Dword() {
    DWORD value;
    std::memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() { return *at_++; }
  // A string or, after 0xFFFF, a number.
  std::string StringOrOrdinal(int* ordinal) {
    const WORD first = Word();
    if (first == 0xFFFF) {
      *ordinal = Word();
      return {};
    }
    *ordinal = -1;
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text.push_back(static_cast<char>(c));
    return text;
  }
  std::string String() {
    int ignored = 0;
    return StringOrOrdinal(&ignored);
  }
  void AlignToDword() {
    while (reinterpret_cast<std::uintptr_t>(at_) % 4 != 0) ++at_;
  }
  void Skip(std::size_t count) { at_ += count; }

 private:
  const BYTE* at_;
};

unsigned TableStyles(const TemplateControl& control) {
  unsigned styles = 0;
  if (control.rawStyle & WS_TABSTOP) styles |= ui::StyleTabStop;
  if (control.rawStyle & WS_GROUP) styles |= ui::StyleGroup;
  if (control.rawStyle & WS_DISABLED) styles |= ui::StyleDisabled;
  if (control.rawStyle & WS_BORDER) styles |= ui::StyleBorder;
  if (control.kind == ControlKind::Edit && (control.rawStyle & ES_AUTOHSCROLL)) styles |= ui::StyleAutoHScroll;
  if ((control.kind == ControlKind::StaticText || control.kind == ControlKind::StaticIcon) &&
      (control.rawStyle & SS_NOPREFIX)) {
    styles |= ui::StyleNoPrefix;
  }
  return styles;
}

ControlKind KindOf(int classAtom, const std::string& className, DWORD style) {
  // A predefined class may be named instead of given by its atom.
  if (lstrcmpiA(className.c_str(), "Button") == 0) classAtom = 0x80;
  if (lstrcmpiA(className.c_str(), "Edit") == 0) classAtom = 0x81;
  if (lstrcmpiA(className.c_str(), "Static") == 0) classAtom = 0x82;
  if (classAtom == 0x80)
    return (style & 0xF) == BS_DEFPUSHBUTTON ? ControlKind::DefaultPushButton : ControlKind::PushButton;
  if (classAtom == 0x81) return ControlKind::Edit;
  if (classAtom == 0x82) return (style & SS_TYPEMASK) == SS_ICON ? ControlKind::StaticIcon : ControlKind::StaticText;
  // Class names are blind to case; the resource compiler writes them in capitals.
  EXPECT_EQ(lstrcmpiA(className.c_str(), "msctls_progress32"), 0) << "a control of class " << className;
  return ControlKind::ProgressBar;
}

CompiledTemplate LoadTemplate(int resourceId) {
  HMODULE module = ::GetModuleHandleA(nullptr);
  HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  EXPECT_NE(found, nullptr) << "no dialog template " << resourceId;
  if (found == nullptr) return {};
  const auto* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
  TemplateReader in(bytes);
  CompiledTemplate result;

  const WORD version = in.Word();
  const WORD signature = in.Word();
  result.extended = version == 1 && signature == 0xFFFF;
  if (result.extended) {
    in.Dword();  // help ID
    result.exStyle = in.Dword();
    result.style = in.Dword();
  } else {
    in = TemplateReader(bytes);
    result.style = in.Dword();
    result.exStyle = in.Dword();
  }
  const WORD count = in.Word();
  in.Short();
  in.Short();
  result.width = in.Short();
  result.height = in.Short();
  int ordinal = 0;
  in.StringOrOrdinal(&ordinal);  // menu
  in.StringOrOrdinal(&ordinal);  // window class
  result.title = in.String();
  if (result.style & DS_SETFONT) {
    result.pointSize = in.Word();
    if (result.extended) {
      result.fontWeight = in.Word();
      in.Byte();  // italic
      result.charset = in.Byte();
    }
    result.fontFace = in.String();
  }
  for (WORD i = 0; i < count; ++i) {
    in.AlignToDword();
    TemplateControl control;
    if (result.extended) {
      in.Dword();  // help ID
      in.Dword();  // extended style
      control.rawStyle = in.Dword();
    } else {
      control.rawStyle = in.Dword();
      in.Dword();
    }
    control.x = in.Short();
    control.y = in.Short();
    control.width = in.Short();
    control.height = in.Short();
    control.id = result.extended ? static_cast<int>(static_cast<LONG>(in.Dword())) : static_cast<short>(in.Word());
    int classAtom = 0;
    const std::string className = in.StringOrOrdinal(&classAtom);
    int textOrdinal = 0;
    control.text = in.StringOrOrdinal(&textOrdinal);
    control.iconId = textOrdinal;
    in.Skip(in.Word());  // creation data
    control.kind = KindOf(classAtom, className, control.rawStyle);
    control.styles = TableStyles(control);
    result.controls.push_back(control);
  }
  return result;
}

void ExpectAgreement(const CompiledTemplate& compiled, const ui::DialogTemplate& table) {
  EXPECT_EQ(compiled.title, table.title);
  EXPECT_EQ(compiled.width, table.width);
  EXPECT_EQ(compiled.height, table.height);
  EXPECT_EQ(compiled.fontFace, table.fontFace);
  EXPECT_EQ(compiled.pointSize, table.fontPointSize);
  ASSERT_EQ(compiled.controls.size(), table.controls.size());
  for (std::size_t i = 0; i < table.controls.size(); ++i) {
    const ui::DialogControl& want = table.controls[i];
    const TemplateControl& got = compiled.controls[i];
    SCOPED_TRACE("control " + std::to_string(i + 1) + " (" + want.text + ")");
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(static_cast<int>(got.kind), static_cast<int>(want.kind));
    if (want.kind == ControlKind::StaticIcon) {
      EXPECT_EQ(got.iconId, ui::kAppIconId);
    } else {
      EXPECT_EQ(got.text, want.text);
    }
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
    EXPECT_EQ(got.styles, want.styles);
    EXPECT_TRUE(got.rawStyle & WS_VISIBLE) << "every control is visible";
    EXPECT_TRUE(got.rawStyle & WS_CHILD);
  }
}

TEST(ResourcesTest, MainDialogTemplateAgreesWithTheLayoutTable) {
  const CompiledTemplate compiled = LoadTemplate(IDD_TARNWICK_DIALOG);
  ASSERT_TRUE(compiled.extended);
  EXPECT_EQ(compiled.style, 0x90C800C0u);
  EXPECT_EQ(compiled.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_EQ(compiled.fontWeight, FW_NORMAL);
  EXPECT_EQ(compiled.charset, DEFAULT_CHARSET);
  ExpectAgreement(compiled, ui::kMainDialog);
}

TEST(ResourcesTest, AboutBoxTemplateAgreesWithTheLayoutTable) {
  const CompiledTemplate compiled = LoadTemplate(IDD_ABOUTBOX);
  EXPECT_EQ(compiled.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
  ExpectAgreement(compiled, ui::kAboutBox);
}

TEST(ResourcesTest, AboutMenuStringAndIconImages) {
  char text[64] = {};
  ASSERT_GT(::LoadStringA(::GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text), 0);
  EXPECT_STREQ(text, ui::kAboutMenuText);

  // Icon 128 holds a 32 x 32 and a 16 x 16 image of 16 colours.
  HMODULE module = ::GetModuleHandleA(nullptr);
  HRSRC group = ::FindResourceA(module, MAKEINTRESOURCEA(IDR_MAINFRAME), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
  ASSERT_NE(group, nullptr);
  TemplateReader in(static_cast<const BYTE*>(::LockResource(::LoadResource(module, group))));
  in.Word();
  EXPECT_EQ(in.Word(), 1) << "an icon, not a cursor";
  const WORD count = in.Word();
  ASSERT_EQ(count, 2);
  std::vector<int> sizes;
  for (WORD i = 0; i < count; ++i) {
    const BYTE width = in.Byte();
    const BYTE height = in.Byte();
    const BYTE colours = in.Byte();
    in.Byte();
    in.Word();
    const WORD bits = in.Word();
    in.Dword();
    in.Word();  // image resource ID
    EXPECT_EQ(width, height);
    EXPECT_EQ(colours, 16);
    EXPECT_EQ(bits, 4);
    sizes.push_back(width);
  }
  EXPECT_EQ(sizes, (std::vector<int>{32, 16}));
}

TEST(ResourcesTest, VersionResourceCarriesTheProjectVersion) {
  char path[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameA(nullptr, path, sizeof path), 0u);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  EXPECT_STREQ(numbers, TARNWICK_VERSION);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  // The strings Explorer shows say the same, in the "1, 0, 0, 1" form.
  std::string expected = TARNWICK_VERSION;
  for (std::size_t dot = expected.find('.'); dot != std::string::npos; dot = expected.find('.', dot)) {
    expected.replace(dot, 1, ", ");
  }
  for (const char* name : {"FileVersion", "ProductVersion"}) {
    char* text = nullptr;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    ASSERT_TRUE(::VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &length)) << name;
    EXPECT_EQ(std::string(text), expected) << name;
  }
}

TEST(WindowPlacementTest, MinimizedIconIsCentredByTheRoundedFormula) {
  EXPECT_EQ(IconOffset(36, 32), 2);
  EXPECT_EQ(IconOffset(37, 32), 3);
  EXPECT_EQ(IconOffset(32, 32), 0);
  EXPECT_EQ(IconOffset(30, 32), 0) << "truncated toward zero: (30 - 32 + 1) / 2";
  EXPECT_EQ(IconOffset(29, 32), -1);
}

TEST(AppNameTest, ExecutableNameWithoutExtension) {
  EXPECT_EQ(DisplayNameFromPath("C:\\Tools\\tarnwick.exe"), "tarnwick");
  EXPECT_EQ(DisplayNameFromPath("Z:/build/Tarnwick.EXE"), "Tarnwick");
  EXPECT_EQ(DisplayNameFromPath("C:\\a.b\\prog"), "prog");
  EXPECT_EQ(DisplayNameFromPath("C:\\x\\my.tool.exe"), "my.tool");
}

// Runs the main dialog modally on this thread while `inspect` works on it
// from another thread, then returns what the modal run returned.
INT_PTR RunDialog(const std::function<void(HWND)>& inspect,
                  const std::function<void(CProgrammerDlg&)>& prepare = nullptr) {
  CProgrammerDlg dialog(::GetModuleHandleA(nullptr));
  if (prepare) prepare(dialog);
  std::thread inspector([&] {
    // Found once shown: the dialog box shows it when its initialisation is done.
    HWND window = nullptr;
    for (int i = 0; i < 400 && window == nullptr; ++i) {
      window = ::FindWindowA("#32770", "Tarnwick");
      if (window != nullptr && !::IsWindowVisible(window)) window = nullptr;
      if (window == nullptr) ::Sleep(25);
    }
    if (window == nullptr) {
      ADD_FAILURE() << "the main dialog did not appear";
      return;
    }
    inspect(window);
  });
  const INT_PTR result = dialog.DoModal();
  inspector.join();
  return result;
}

TEST(MainDialogTest, InitialisationSetsTheIconsAndAddsTheAboutItemLast) {
  HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
  ASSERT_NE(icon, nullptr);
  const INT_PTR result = RunDialog([&](HWND window) {
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(window, WM_GETICON, ICON_BIG, 0)), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(window, WM_GETICON, ICON_SMALL, 0)), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(window, WM_QUERYDRAGICON, 0, 0)), icon);

    HMENU menu = ::GetSystemMenu(window, FALSE);
    ASSERT_NE(menu, nullptr);
    const int items = ::GetMenuItemCount(menu);
    ASSERT_GE(items, 2);
    EXPECT_EQ(::GetMenuItemID(menu, items - 1), static_cast<UINT>(IDM_ABOUTBOX));
    char text[64] = {};
    ::GetMenuStringA(menu, static_cast<UINT>(items - 1), text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About Tarnwick...");
    EXPECT_TRUE(::GetMenuState(menu, static_cast<UINT>(items - 2), MF_BYPOSITION) & MF_SEPARATOR);

    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window, IDC_PROGRAM)));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window, IDC_STOP)));
    char status[32] = {};
    ::GetDlgItemTextA(window, IDC_STATUS, status, sizeof status);
    EXPECT_STREQ(status, "Idle");
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST(MainDialogTest, EnterWithNoButtonFocusedEndsTheRunWithOk) {
  const INT_PTR result = RunDialog([](HWND window) {
    // What the dialog manager sends for Enter when no push button has the focus.
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  EXPECT_EQ(result, IDOK);
}

TEST(MainDialogTest, OtherSystemCommandsGetTheDefaultHandling) {
  const INT_PTR result = RunDialog([](HWND window) {
    // Close from the system menu ends the run as Cancel does.
    ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  EXPECT_EQ(result, IDCANCEL);
}

// The control that has the focus in the dialog's thread; nullptr for none.
HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// A key pressed and released on the keyboard, as the operator would.
void PressKey(WORD key) {
  INPUT keys[2] = {};
  keys[0].type = keys[1].type = INPUT_KEYBOARD;
  keys[0].ki.wVk = keys[1].ki.wVk = key;
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ::SendInput(2, keys, sizeof keys[0]);
  ::Sleep(100);
}

bool WaitUntil(const std::function<bool()>& ready) {
  for (int i = 0; i < 200; ++i) {
    if (ready()) return true;
    ::Sleep(10);
  }
  return ready();
}

// Stop and Program, pressed from the keyboard, disable themselves: the focus
// goes on to the next tab stop first, so that Tab, Esc and the rest still work.
TEST(MainDialogTest, KeyboardWorksOnAfterTheFocusedButtonDisablesItself) {
  for (const int pressed : {IDC_STOP, IDC_PROGRAM}) {
    SCOPED_TRACE(pressed == IDC_STOP ? "Stop" : "Program");
    const INT_PTR result = RunDialog(
        [&](HWND window) {
          EXPECT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == window; }));
          HWND button = ::GetDlgItem(window, pressed);
          ::EnableWindow(button, TRUE);
          ::PostMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
          ASSERT_TRUE(WaitUntil([&] { return FocusOf(window) == button; }));
          PressKey(VK_SPACE);
          EXPECT_TRUE(WaitUntil([&] { return !::IsWindowEnabled(button); })) << "the key pressed the button";
          // Neither Stop (disabled here) nor the read-outs take it: Exit does.
          EXPECT_EQ(FocusOf(window), ::GetDlgItem(window, IDCANCEL));
          if (pressed == IDC_STOP) {
            PressKey(VK_TAB);
            EXPECT_EQ(FocusOf(window), ::GetDlgItem(window, IDC_LOAD_FILE)) << "Tab moves on";
          }
          PressKey(VK_ESCAPE);
          if (!WaitUntil([&] { return !::IsWindow(window); })) {
            ADD_FAILURE() << "Esc did not end the dialog";
            // Ended otherwise, with the scan's box closed should it have come.
            while (::IsWindow(window)) {
              if (HWND box = ::GetWindow(::GetDesktopWindow(), GW_CHILD); box != nullptr) {
                for (; box != nullptr; box = ::GetWindow(box, GW_HWNDNEXT)) {
                  if (::GetWindow(box, GW_OWNER) == window) ::PostMessageA(box, WM_COMMAND, IDOK, 0);
                }
              }
              ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
              ::Sleep(200);
            }
          }
        },
        [](CProgrammerDlg& dialog) {
          for (std::size_t i = 0; i < 4; ++i) dialog.MapPort(i, "COM250");  // no such port
        });
    EXPECT_EQ(result, IDCANCEL);
  }
}

// The bar of an empty image stands full; any other follows the bytes sent.
TEST(MainDialogTest, ProgressBarOfAnEmptyImageIsFull) {
  CProgrammerDlg* shown = nullptr;
  const INT_PTR result = RunDialog(
      [&](HWND window) {
        HWND bar = ::GetDlgItem(window, IDC_PROGRESS);
        const auto check = [&](std::uint32_t maximum, std::uint32_t position, const char* what) {
          shown->SetProgressRange(maximum);
          shown->SetProgressPosition(position);
          PBRANGE range{};
          ::SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
          const auto at = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
          EXPECT_GT(range.iHigh, range.iLow) << what;
          return std::pair<int, int>(at, range.iHigh);
        };
        EXPECT_EQ(check(0, 0, "empty"), (std::pair<int, int>(1, 1)));
        EXPECT_EQ(check(1000, 128, "1000 bytes"), (std::pair<int, int>(128, 1000)));
        EXPECT_EQ(check(65536, 65536, "64 KiB"), (std::pair<int, int>(65536, 65536)));
        ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      },
      [&](CProgrammerDlg& dialog) { shown = &dialog; });
  EXPECT_EQ(result, IDCANCEL);
}

// The reason a port did not open is the status line's tooltip.
TEST(MainDialogTest, StatusDetailIsTheStatusLinesTooltip) {
  CProgrammerDlg* shown = nullptr;
  std::string status, tip;
  const INT_PTR result = RunDialog(
      [&](HWND window) {
        ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_PROGRAM, BN_CLICKED), 0);
        char text[64] = {};
        for (int i = 0; i < 200 && std::strncmp(text, "Error Open", 10) != 0; ++i) {
          ::Sleep(10);
          ::GetDlgItemTextA(window, IDC_STATUS, text, sizeof text);
        }
        char detail[256] = {};
        TOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.hwnd = window;
        tool.uId = IDC_STATUS;
        tool.lpszText = detail;
        ::SendMessageA(shown->statusTip(), TTM_GETTEXTA, sizeof detail, reinterpret_cast<LPARAM>(&tool));
        status = text;
        tip = detail;
        ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      },
      [&](CProgrammerDlg& dialog) {
        shown = &dialog;
        for (std::size_t i = 0; i < 4; ++i) dialog.MapPort(i, "COM250");  // no such port
      });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(status, "Error Open COM1 !");
  EXPECT_FALSE(tip.empty()) << "the system's reason goes with the status";
}

// Status texts and details are UTF-8 inside the program and show as such; a
// detail too long for the tooltip is cut at a whole character, not dropped.
TEST(MainDialogTest, StatusLineAndTooltipShowUtf8) {
  CProgrammerDlg* shown = nullptr;
  std::wstring status, tip, longTip;
  const INT_PTR result = RunDialog(
      [&](HWND window) {
        const auto read = [&](std::wstring& line, std::wstring& detail) {
          wchar_t text[4096] = {};
          ::GetDlgItemTextW(window, IDC_STATUS, text, 4096);
          line = text;
          wchar_t held[4096] = {};
          TOOLINFOW tool{};
          tool.cbSize = TTTOOLINFOW_V2_SIZE;
          tool.hwnd = window;
          tool.uId = IDC_STATUS;
          tool.lpszText = held;
          ::SendMessageW(shown->statusTip(), TTM_GETTEXTW, 4096, reinterpret_cast<LPARAM>(&tool));
          detail = held;
        };
        shown->SetStatusText("Error Open \xce\x98\xcf\x8d\xcf\x81\xce\xb1 \xe7\x94\xbb !");
        shown->SetStatusDetail("\xc3\x89t\xc3\xa9 \xe3\x82\xa4");
        read(status, tip);
        std::string many;
        for (int i = 0; i < 1500; ++i) many += "\xce\xb1";  // 1500 alphas, 3000 bytes
        shown->SetStatusDetail(many.c_str());
        std::wstring ignored;
        read(ignored, longTip);
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      },
      [&](CProgrammerDlg& dialog) { shown = &dialog; });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(status, L"Error Open \u0398\u03cd\u03c1\u03b1 \u753b !");
  EXPECT_EQ(tip, L"\u00c9t\u00e9 \u30a4");
  EXPECT_GT(longTip.size(), 400u);
  EXPECT_LT(longTip.size(), 1500u);
  EXPECT_EQ(longTip.find_first_not_of(L'\u03b1'), std::wstring::npos) << "whole characters only";
}

// The command line as the system hands it over, program name first.
CommandLine Parse(const std::wstring& arguments) {
  return ParseCommandLine(SplitCommandLine((L"tarnwick.exe " + arguments).c_str()));
}

TEST(CommandLineTest, PortMappingsHelpAndVersion) {
  const CommandLine none = Parse(L"");
  EXPECT_EQ(none.request, CommandLineRequest::Run);
  EXPECT_EQ(none.targets, (std::array<std::string, 4>{}));
  const CommandLine mapped = Parse(L"COM1=COM12  com4=\"COM255\" \"\"");
  EXPECT_EQ(mapped.request, CommandLineRequest::Run);
  EXPECT_EQ(mapped.targets, (std::array<std::string, 4>{"COM12", "", "", "COM255"}));
  for (const wchar_t* help : {L"/?", L"--help", L"-h", L"COM1=COM3 /?", L"bogus --help", L"\"--help\""}) {
    EXPECT_EQ(Parse(help).request, CommandLineRequest::Help);
  }
  EXPECT_EQ(Parse(L"--version").request, CommandLineRequest::Version);
  for (const char* wrong : {"COM5=COM1", "COM1=COM0", "COM1=COM256", "COM1=/dev/ttyS0", "COM1", "COM1=", "x"}) {
    const CommandLine refused = ParseCommandLine({wrong});
    EXPECT_EQ(refused.request, CommandLineRequest::Error) << wrong;
    EXPECT_NE(refused.error.find(wrong), std::string::npos) << refused.error;
  }
  EXPECT_NE(std::string(UsageText()).find("usage: tarnwick [COMn=COMm]"), std::string::npos);
}

// The system's rules: backslashes are literal unless they stand before a
// quote, where each pair gives one and an odd one makes the quote literal.
TEST(CommandLineTest, QuotesAndBackslashesAsTheSystemReadsThem) {
  using Arguments = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine(L"\"C:\\Program Files\\tarnwick.exe\" \"C:\\dir with space\\\\\" COM1=COM5"),
            (Arguments{"C:\\dir with space\\", "COM1=COM5"}));
  EXPECT_EQ(SplitCommandLine(L"tarnwick.exe a\\\\b \"x\\\" COM1=COM5\" \\\\\\\"q"),
            (Arguments{"a\\\\b", "x\" COM1=COM5", "\\\"q"}));
  EXPECT_EQ(SplitCommandLine(L"tarnwick.exe   com2=\"COM7\"\t\"\""), (Arguments{"com2=COM7", ""}));
  // Each argument in UTF-8.
  EXPECT_EQ(SplitCommandLine(L"tarnwick.exe COM1=C\u00d6M5 \u20ac"), (Arguments{"COM1=C\xc3\x96M5", "\xe2\x82\xac"}));

  // A path that ends in a backslash is one argument, shown as given.
  const CommandLine quoted = Parse(L"COM1=COM5 \"C:\\dir with space\\\\\"");
  EXPECT_EQ(quoted.request, CommandLineRequest::Error);
  EXPECT_EQ(quoted.error.rfind("bad port mapping \"C:\\dir with space\\\"", 0), 0u) << quoted.error;
  EXPECT_EQ(quoted.targets[0], "COM5");
  // A quote after a backslash is part of the argument, not the end of a quoted run.
  EXPECT_EQ(Parse(L"COM1=COM5\\\"").request, CommandLineRequest::Error);
  EXPECT_EQ(Parse(L"\"COM2=COM6\" COM3=\"COM7\"").targets, (std::array<std::string, 4>{"", "COM6", "COM7", ""}));
  // COM names in any letter case, as every program reads them; a control
  // character shows as '?' in the message, which stays on one line.
  EXPECT_EQ(Parse(L"com2=com6 Com4=cOm12").targets, (std::array<std::string, 4>{"", "COM6", "", "COM12"}));
  EXPECT_EQ(Parse(L"\"COM9=/x\nFAKE LINE\"").error.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::win32
