// Drives the Windows program through its window as an operator would: finds
// the main dialog, checks its first state, opens the About box from the system
// menu command, loads an image through the file dialog, presses Program,
// checks the read-outs and the success box, closes it and leaves through Exit.
//   tarnwick_ui_driver IMAGE[|IMAGE...] EXPECTED_LENGTH[|LENGTH...] APP_NAME [no-device|keyboard]
// Each IMAGE is typed into the file dialog and programmed in turn; a LENGTH of
// "-" means that IMAGE does not exist and a box must say so, naming it.
// With no-device, no port opens: the run must end the program after its box.
// The first run goes on under the About box, and the success box must go over it.
// With keyboard, the last run is the keyboard's: Enter held down on Program
// presses it once and the focus moves on to Exit, Enter held down closes the
// success box and the program goes on, then Enter on Exit ends it.
//   tarnwick_ui_driver box APP_NAME TEXT
// Waits for a box of the program that says TEXT (its command-line answer) and closes it.
// Runs beside the program on the same (virtual) desktop. Exit status 0 when
// every check held; each failed check is reported on standard error.
#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPatienceMs = 30000;
constexpr DWORD kRunPatienceMs = 120000;
constexpr int kIdLoadFile = 1000, kIdProgram = 1001, kIdStop = 1002, kIdImageLength = 1003, kIdBytesSent = 1004,
              kIdUnusedEdit = 1006, kIdProgress = 1007, kIdStatus = 1008;

int failures = 0;

void Check(bool condition, const std::string& what) {
  std::printf("%s %s\n", condition ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!condition) ++failures;
}

// Polls `ready` every 50 ms until it holds or `patience` runs out.
bool WaitFor(const std::function<bool()>& ready, DWORD patience = kPatienceMs) {
  const ULONGLONG start = ::GetTickCount64();
  while (!ready()) {
    if (::GetTickCount64() - start > patience) return false;
    ::Sleep(50);
  }
  return true;
}

std::string Utf8(const wchar_t* wide) {
  char buffer[2048] = {};
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
  return buffer;
}

std::wstring Utf16(const std::string& utf8) {
  wchar_t buffer[1024] = {};
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, buffer, 1024);
  return buffer;
}

// A window's text, in UTF-8.
std::string Text(HWND window) {
  wchar_t buffer[1024] = {};
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK, 5000, &ignored);
  return Utf8(buffer);
}

// The arguments in UTF-8, as the system hands them over: names in any script.
std::vector<std::string> Arguments() {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8(split[i]));
  ::LocalFree(split);
  return arguments;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::string ControlText(HWND dialog, int id) { return Text(::GetDlgItem(dialog, id)); }

bool Enabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }

// Clicks a button without waiting for what the click starts (a modal dialog, say).
void Click(HWND dialog, int id) {
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

// A top-level dialog with this title, other than `except`.
HWND FindDialog(const char* title, HWND except = nullptr) {
  HWND found = nullptr;
  while ((found = ::FindWindowExA(nullptr, found, "#32770", title)) != nullptr) {
    if (found != except && ::IsWindowVisible(found)) return found;
  }
  return nullptr;
}

BOOL CALLBACK FindEditIn(HWND child, LPARAM found) {
  char name[32] = {};
  ::GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Edit") == 0 && ::IsWindowVisible(child)) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

// The first visible edit box among the children of `parent`, at any depth.
HWND FindEdit(HWND parent) {
  HWND result = nullptr;
  ::EnumChildWindows(parent, FindEditIn, reinterpret_cast<LPARAM>(&result));
  return result;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM out) {
  char name[32] = {};
  ::GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Static") == 0) *reinterpret_cast<std::string*>(out) += Text(child);
  return TRUE;
}

// The texts of a message box's static controls, joined.
std::string BoxText(HWND box) {
  std::string text;
  ::EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
  return text;
}

// The control that has the focus in the window's thread; nullptr for none.
HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void SendKey(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  ::SendInput(1, &input, sizeof input);
  ::Sleep(100);
}

// Pressed and let go; held down, the key goes down once more (as it repeats)
// before it is let go.
void PressKey(WORD key, bool held = false) {
  SendKey(key, false);
  if (held) SendKey(key, false);
  SendKey(key, true);
}

void CheckAboutBox(HWND dialog, WPARAM command) {
  ::PostMessageA(dialog, WM_SYSCOMMAND, command, 0);
  HWND about = nullptr;
  WaitFor([&] { return (about = FindDialog("About Tarnwick")) != nullptr; });
  char label[64];
  std::snprintf(label, sizeof label, "system command 0x%02X opens the About box", static_cast<unsigned>(command));
  Check(about != nullptr, label);
  if (about == nullptr) return;
  Check(::GetWindow(about, GW_OWNER) == dialog, "the About box is owned by the main dialog");
  Check(!::IsWindowEnabled(dialog), "the main dialog is disabled while the About box shows");
  ::PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  Check(WaitFor([&] { return !::IsWindow(about); }), "OK closes the About box");
  Check(WaitFor([&] { return ::IsWindowEnabled(dialog) != FALSE; }), "the main dialog is enabled again");
}

}  // namespace

int main() {
  const std::vector<std::string> argv = Arguments();
  const std::size_t argc = argv.size();
  if (argc == 4 && argv[1] == "box") {
    HWND box = nullptr;
    Check(WaitFor([&] { return (box = FindDialog(argv[2].c_str())) != nullptr; }), "a box of " + argv[2] + " opens");
    if (box == nullptr) return 1;
    const std::string text = BoxText(box);
    Check(text.find(argv[3]) != std::string::npos, "the box says \"" + argv[3] + "\": " + text);
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return failures == 0 ? 0 : 1;
  }
  const std::string mode = argc == 5 ? argv[4] : "";
  const std::vector<std::string> images = argc >= 4 ? Split(argv[1], '|') : std::vector<std::string>{};
  const std::vector<std::string> lengths = argc >= 4 ? Split(argv[2], '|') : std::vector<std::string>{};
  if ((argc != 4 && !(argc == 5 && (mode == "no-device" || mode == "keyboard"))) || images.size() != lengths.size()) {
    std::fprintf(stderr,
                 "usage: tarnwick_ui_driver IMAGE[|IMAGE...] EXPECTED_LENGTH[|LENGTH...] APP_NAME "
                 "[no-device|keyboard]\n");
    return 2;
  }
  const bool noDevice = mode == "no-device";
  const bool keyboard = mode == "keyboard";
  const std::string appName = argv[3];

  HWND dialog = nullptr;
  if (!WaitFor([&] { return (dialog = FindDialog("Tarnwick")) != nullptr; })) {
    std::fprintf(stderr, "the main dialog did not appear\n");
    return 1;
  }
  DWORD processId = 0;
  ::GetWindowThreadProcessId(dialog, &processId);
  HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);

  // The first state: what the template and the initialisation leave.
  Check(ControlText(dialog, kIdStatus) == "Idle", "the status line reads Idle");
  Check(!Enabled(dialog, kIdProgram) && !Enabled(dialog, kIdStop), "Program and Stop Programing are disabled");
  Check(Enabled(dialog, kIdLoadFile) && Enabled(dialog, IDCANCEL), "Load File and Exit are enabled");
  Check(!Enabled(dialog, kIdImageLength) && !Enabled(dialog, kIdBytesSent) && !Enabled(dialog, kIdUnusedEdit),
        "the read-outs are disabled");
  // (The window icons and the system menu are checked inside the program's
  // process by tarnwick_win32_ui_test: Wine answers neither across processes.)
  Check((::GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0, "the window has its own taskbar button");

  CheckAboutBox(dialog, 0x10);
  CheckAboutBox(dialog, 0x1F);

  for (std::size_t run = 0; run < images.size(); ++run) {
    const std::string& imagePath = images[run];
    const std::string& expectedLength = lengths[run];
    const bool first = run == 0;

    // Load File: the status line says so, then the file dialog takes a name.
    Click(dialog, kIdLoadFile);
    HWND open = nullptr;
    Check(WaitFor([&] { return (open = FindDialog(nullptr, dialog)) != nullptr && FindEdit(open) != nullptr; }),
          "Load File opens the file dialog");
    if (open == nullptr) return 1;
    Check(ControlText(dialog, kIdStatus) == "Open File", "the status line reads Open File while it shows");
    HWND nameBox = FindEdit(open);
    if (first) Check(Text(nameBox) == "*.UPL", "the file name box starts with *.UPL");
    const std::wstring typed = Utf16(imagePath);
    ::SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
    ::PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(open, IDOK)));
    // A load that fails says so in a box, which names the file as it is called.
    HWND box = nullptr;
    const auto loadEnded = [&] {
      return ControlText(dialog, kIdImageLength) == expectedLength ||
             (box = FindDialog(appName.c_str(), dialog)) != nullptr;
    };
    Check(WaitFor(loadEnded), "the load of " + imagePath + " ends");
    if (expectedLength == "-") {
      const std::string said = box != nullptr ? BoxText(box) : std::string();
      Check(said.find(imagePath) != std::string::npos, "a box names " + imagePath + ": " + said);
      if (box != nullptr) ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      Check(WaitFor([&] { return box == nullptr || !::IsWindow(box); }), "OK closes the box");
      continue;
    }
    if (box != nullptr) {
      Check(false, "the image loads, with no box: " + BoxText(box));
      return 1;
    }
    Check(ControlText(dialog, kIdImageLength) == expectedLength, "the length read-out shows " + expectedLength);
    Check(Enabled(dialog, kIdProgram), "Program is enabled after the load");

    const std::size_t lastRun = images.size() - 1;
    if (keyboard && run == lastRun) {
      // Program from the keyboard, Enter held down: Program is pressed once,
      // and the focus goes on to Exit, which the Enter does not press.
      ::SetForegroundWindow(dialog);
      Check(WaitFor([&] { return ::GetForegroundWindow() == dialog; }), "the main dialog is in front");
      HWND programButton = ::GetDlgItem(dialog, kIdProgram);
      HWND exitButton = ::GetDlgItem(dialog, IDCANCEL);
      ::PostMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(programButton), TRUE);
      Check(WaitFor([&] { return FocusOf(dialog) == programButton; }), "Program has the focus");
      PressKey(VK_RETURN, true);
      Check(WaitFor([&] { return FocusOf(dialog) == exitButton; }), "Enter pressed Program: Exit has the focus");
      const bool ended =
          WaitFor([&] { return (box = FindDialog(appName.c_str(), dialog)) != nullptr; }, kRunPatienceMs);
      Check(ended, "the run ends with its box: the held Enter did not press Exit");
      if (!ended) return 1;
      Check(BoxText(box).find("   Programming Device Succeed!   ") != std::string::npos, "the box reports success");
      Check(WaitFor([&] { return ::GetForegroundWindow() == box; }), "the box is in front");
      // The key that closes the box, held down: it must not go on to the dialog.
      PressKey(VK_RETURN, true);
      Check(WaitFor([&] { return !::IsWindow(box); }), "Enter closes the success box");
      ::Sleep(1000);
      Check(process != nullptr && ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT,
            "the program goes on after the Enter that closed its box");
      Check(ControlText(dialog, kIdBytesSent) == expectedLength, "the bytes-sent read-out shows " + expectedLength);
      Check(FocusOf(dialog) == exitButton, "Exit has the focus");
      PressKey(VK_RETURN);
      Check(process != nullptr && ::WaitForSingleObject(process, kPatienceMs) == WAIT_OBJECT_0,
            "Enter on Exit ends the program");
      std::printf("%d check(s) failed\n", failures);
      return failures == 0 ? 0 : 1;
    }

    // Program: the run finds the device and serves the image; the first with the About box open.
    Click(dialog, kIdProgram);
    HWND about = nullptr;
    if (!noDevice && first) {
      ::PostMessageA(dialog, WM_SYSCOMMAND, 0x10, 0);
      Check(WaitFor([&] { return (about = FindDialog("About Tarnwick")) != nullptr; }),
            "the About box opens during the run");
    }
    // Title matching is blind to case, and the main dialog is "Tarnwick": skip it.
    const bool ended = WaitFor([&] { return (box = FindDialog(appName.c_str(), dialog)) != nullptr; }, kRunPatienceMs);
    Check(ended, "a message box ends the run");
    if (!ended) {
      std::printf("status line: \"%s\"\n", ControlText(dialog, kIdStatus).c_str());
      return 1;
    }
    Check(Text(box) == appName, "the box is captioned with the program's name, " + appName);
    if (noDevice) {
      // Every port failed to open: the box, then the program ends by itself.
      Check(BoxText(box).find("  Can not Connect To Device!    ") != std::string::npos, "the box reports no device");
      const std::string status = ControlText(dialog, kIdStatus);
      Check(status == "Error Open COM4 !", "the status line names the last port: \"" + status + "\"");
      ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      Check(process != nullptr && ::WaitForSingleObject(process, kPatienceMs) == WAIT_OBJECT_0,
            "closing the box ends the program");
      std::printf("%d check(s) failed\n", failures);
      return failures == 0 ? 0 : 1;
    }
    Check(BoxText(box).find("   Programming Device Succeed!   ") != std::string::npos, "the box reports success");
    if (first) {
      // Over the About box, which is still modal: its owner stays disabled.
      Check(about != nullptr && ::GetWindow(box, GW_OWNER) == about, "the success box is owned by the About box");
      Check(!::IsWindowEnabled(dialog), "the main dialog stays disabled under both");
    }
    Check(ControlText(dialog, kIdStatus) == "Done", "the status line reads Done");
    Check(ControlText(dialog, kIdBytesSent) == expectedLength, "the bytes-sent read-out shows " + expectedLength);
    const auto length = static_cast<LRESULT>(std::strtol(expectedLength.c_str(), nullptr, 10));
    HWND progress = ::GetDlgItem(dialog, kIdProgress);
    Check(::SendMessageA(progress, PBM_GETRANGE, FALSE, 0) == length, "the progress bar's range ends at the length");
    Check(::SendMessageA(progress, PBM_GETPOS, 0, 0) == length, "the progress bar is full");
    Check(Enabled(dialog, kIdProgram) && !Enabled(dialog, kIdStop), "Program is enabled and Stop disabled again");
    Check(ControlText(dialog, kIdUnusedEdit).empty(), "the unused edit box stays empty");

    if (const char* pause = std::getenv("TARNWICK_DRIVER_PAUSE_MS")) ::Sleep(std::strtoul(pause, nullptr, 10));
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    Check(WaitFor([&] { return !::IsWindow(box); }), "OK closes the success box");
    if (about != nullptr) {
      ::Sleep(200);
      Check(::IsWindow(about) && ::IsWindowEnabled(about), "the About box takes input again");
      Check(!::IsWindowEnabled(dialog), "the main dialog stays disabled while the About box shows");
      ::PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      Check(WaitFor([&] { return !::IsWindow(about); }), "OK closes the About box");
      Check(WaitFor([&] { return ::IsWindowEnabled(dialog) != FALSE; }), "the main dialog is enabled again");
    }
  }

  // Exit ends the program.
  Click(dialog, IDCANCEL);
  Check(process != nullptr && ::WaitForSingleObject(process, kPatienceMs) == WAIT_OBJECT_0, "Exit ends the program");
  if (process != nullptr) ::CloseHandle(process);

  std::printf("%d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}
