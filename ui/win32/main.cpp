// Entry point of the Windows program.
#include <string>

#include "app_name.h"
#include "command_line.h"
#include "programmer_app.h"

namespace {
tarnwick::win32::CProgrammerApp theApp;

std::wstring Wide(const std::string& utf8) {
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), size);
  wide.pop_back();  // the terminating zero
  return wide;
}

// A box with no owner, for what the program says before its dialog runs; the
// text is UTF-8, as the arguments it may quote.
void Tell(const std::string& text, UINT icon) {
  const std::string caption = tarnwick::win32::ApplicationDisplayName();
  ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), MB_OK | icon);
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  using namespace tarnwick::win32;
  const CommandLine parsed = ParseCommandLine(SplitCommandLine(::GetCommandLineW()));
  switch (parsed.request) {
    case CommandLineRequest::Help:
      Tell(UsageText(), MB_ICONINFORMATION);
      return 0;
    case CommandLineRequest::Version:
      Tell(VersionText(), MB_ICONINFORMATION);
      return 0;
    case CommandLineRequest::Error:
      Tell(parsed.error + "\n\n" + UsageText(), MB_ICONEXCLAMATION);
      return 2;
    case CommandLineRequest::Run:
      break;
  }
  theApp.InitInstance(instance, parsed.targets);
  return 0;
}
