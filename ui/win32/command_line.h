// The command line of tarnwick.exe: "COMn=COMm" arguments point the names the
// program scans, COM1 to COM4, at other ports, such as the COM12 of a USB
// adapter; "/?", "--help" and "--version" show what the program is.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace tarnwick::win32 {

enum class CommandLineRequest { Run, Help, Version, Error };

struct CommandLine {
  CommandLineRequest request = CommandLineRequest::Run;
  // The port that COM1 to COM4 open ("COM12"); empty for the name itself.
  std::array<std::string, 4> targets;
  // Why the command line was refused, on one line.
  std::string error;
};

// The arguments of `commandLine` (as GetCommandLineW gives it, the program's
// own name first) without that name, split by the system's rules for quotes
// and backslashes, each in UTF-8.
std::vector<std::string> SplitCommandLine(const wchar_t* commandLine);

// The arguments as SplitCommandLine gives them; empty ones are passed over.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text, for a box.
const char* UsageText();
// "tarnwick VERSION".
const char* VersionText();

}  // namespace tarnwick::win32
