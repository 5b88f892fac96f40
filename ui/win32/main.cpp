// Entry point of the Windows program.
#include <string>

#include "app_name.h"
#include "command_line.h"
#include "programmer_app.h"
#include "wide_text.h"

namespace {
tarnwick::win32::CProgrammerApp theApp;

// A box with no owner, for what the program says before its dialog runs; the
// text is UTF-8, as the arguments it may quote.
void Tell(const std::string& text, UINT icon) {
  const std::string caption = tarnwick::win32::ApplicationDisplayName();
  ::MessageBoxW(nullptr, tarnwick::win32::Widen(text).c_str(), tarnwick::win32::Widen(caption).c_str(), MB_OK | icon);
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
