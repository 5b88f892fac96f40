#include "command_line.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstddef>
#include <string>

#include "serial_devices.h"
#include "wide_text.h"

namespace tarnwick::win32 {

namespace {

constexpr unsigned kHighestComPort = 255;

}  // namespace

std::vector<std::string> SplitCommandLine(const wchar_t* commandLine) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** split = ::CommandLineToArgvW(commandLine, &count);
  if (split == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Narrow(split[i]));
  ::LocalFree(split);
  return arguments;
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine parsed;
  for (const std::string& argument : arguments) {
    if (argument.empty()) continue;
    if (argument == "/?" || argument == "-h" || argument == "--help") {
      parsed.request = CommandLineRequest::Help;
      return parsed;
    }
    if (argument == "--version") {
      parsed.request = CommandLineRequest::Version;
    } else if (parsed.request != CommandLineRequest::Error) {
      // COM names as every program reads them, in any letter case; the
      // port opened in place of COMn is a COM port too.
      std::string ignored;
      const PortArgument mapping = ParsePortArgument(argument, ignored);
      const unsigned target = mapping.kind == PortArgumentKind::ComMapping ? ComNumber(mapping.path) : 0;
      if (target == 0 || target > kHighestComPort || mapping.comNumber > parsed.targets.size()) {
        parsed.request = CommandLineRequest::Error;
        parsed.error =
            BadPortMapping(argument, static_cast<unsigned>(parsed.targets.size())) + " (a COM port, COM1 to COM255)";
      } else {
        parsed.targets[mapping.comNumber - 1] = "COM" + std::to_string(target);
      }
    }
  }
  return parsed;
}

const char* UsageText() {
  return "usage: tarnwick [COMn=COMm]...\n"
         "Programs a target device over a serial line; the port scan tries COM1 to COM4.\n"
         "COMn=COMm has the scan open port COMm in place of COMn (n from 1 to 4, m from 1 to 255),\n"
         "e.g.  tarnwick COM1=COM12  for a USB adapter on COM12.\n"
         "tarnwick /? or --help shows this text; tarnwick --version the version.";
}

const char* VersionText() { return "tarnwick " TARNWICK_VERSION; }

}  // namespace tarnwick::win32
