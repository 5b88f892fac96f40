// Drives the Windows program through its window as an operator would: finds
// the main dialog, checks its first state, opens the About box from the system
// menu command, loads an image through the file dialog, presses Program,
// checks the read-outs and the success box, closes it and leaves through Exit.
//   tarnwick_ui_driver IMAGE.UPL EXPECTED_LENGTH APP_NAME [no-device]
// With no-device, no port opens: the run must end the program after its box.
// The run goes on under the About box, and the success box must go over it.
//   tarnwick_ui_driver box APP_NAME TEXT
// Waits for a box of the program that says TEXT (its command-line answer) and closes it.
// Runs beside the program on the same (virtual) desktop. Exit status 0 when
// every check held; each failed check is reported on standard error.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

constexpr DWORD kPatienceMs = 30000;
constexpr DWORD kRunPatienceMs = 120000;
constexpr int kIdLoadFile = 1000, kIdProgram = 1001, kIdStop = 1002, kIdImageLength = 1003,
              kIdBytesSent = 1004, kIdUnusedEdit = 1006, kIdProgress = 1007, kIdStatus = 1008;

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

std::string Text(HWND window) {
  char buffer[512] = {};
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK, 5000,
                        &ignored);
  return buffer;
}

std::string ControlText(HWND dialog, int id) { return Text(::GetDlgItem(dialog, id)); }

bool Enabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }

// Clicks a button without waiting for what the click starts (a modal dialog, say).
void Click(HWND dialog, int id) {
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
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

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "box") {
    HWND box = nullptr;
    Check(WaitFor([&] { return (box = FindDialog(argv[2])) != nullptr; }),
          std::string("a box of ") + argv[2] + " opens");
    if (box == nullptr) return 1;
    const std::string text = BoxText(box);
    Check(text.find(argv[3]) != std::string::npos, std::string("the box says \"") + argv[3] + "\": " + text);
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return failures == 0 ? 0 : 1;
  }
  if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "no-device")) {
    std::fprintf(stderr, "usage: tarnwick_ui_driver IMAGE.UPL EXPECTED_LENGTH APP_NAME [no-device]\n");
    return 2;
  }
  const bool noDevice = argc == 5;
  const std::string imagePath = argv[1];
  const std::string expectedLength = argv[2];
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

  // Load File: the status line says so, then the file dialog takes a name.
  Click(dialog, kIdLoadFile);
  HWND open = nullptr;
  Check(WaitFor([&] { return (open = FindDialog(nullptr, dialog)) != nullptr && FindEdit(open) != nullptr; }),
        "Load File opens the file dialog");
  if (open == nullptr) return 1;
  Check(ControlText(dialog, kIdStatus) == "Open File", "the status line reads Open File while it shows");
  HWND nameBox = FindEdit(open);
  Check(Text(nameBox) == "*.UPL", "the file name box starts with *.UPL");
  ::SendMessageA(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(imagePath.c_str()));
  ::PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(open, IDOK)));
  Check(WaitFor([&] { return ControlText(dialog, kIdImageLength) == expectedLength; }),
        "the length read-out shows " + expectedLength);
  Check(Enabled(dialog, kIdProgram), "Program is enabled after the load");

  // Program: the run finds the device and serves the image, with the About box open.
  Click(dialog, kIdProgram);
  HWND about = nullptr;
  if (!noDevice) {
    ::PostMessageA(dialog, WM_SYSCOMMAND, 0x10, 0);
    Check(WaitFor([&] { return (about = FindDialog("About Tarnwick")) != nullptr; }),
          "the About box opens during the run");
  }
  HWND box = nullptr;
  // Title matching is blind to case, and the main dialog is "Tarnwick": skip it.
  const bool ended = WaitFor([&] { return (box = FindDialog(appName.c_str(), dialog)) != nullptr; }, kRunPatienceMs);
  Check(ended, "a message box ends the run");
  if (!ended) {
    std::printf("status line: \"%s\"\n", ControlText(dialog, kIdStatus).c_str());
    return 1;
  }
  char caption[64] = {};
  ::GetWindowTextA(box, caption, sizeof caption);
  Check(caption == appName, "the box is captioned with the program's name, " + appName);
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
  // Over the About box, which is still modal: its owner stays disabled.
  Check(about != nullptr && ::GetWindow(box, GW_OWNER) == about, "the success box is owned by the About box");
  Check(!::IsWindowEnabled(dialog), "the main dialog stays disabled under both");
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

  // Exit ends the program.
  Click(dialog, IDCANCEL);
  Check(process != nullptr && ::WaitForSingleObject(process, kPatienceMs) == WAIT_OBJECT_0,
        "Exit ends the program");
  if (process != nullptr) ::CloseHandle(process);

  std::printf("%d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}
