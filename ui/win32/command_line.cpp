#include "command_line.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <cstddef>

namespace tarnwick::win32 {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "COMn" with n from 1 to 255, or 0 when `text` is no such name.
int PortNumber(const std::string& text) {
  if (text.size() < 4 || text.size() > 6 || text.compare(0, 3, "COM") != 0 || text[3] == '0') return 0;
  int number = 0;
  for (std::size_t i = 3; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return 0;
    number = number * 10 + (text[i] - '0');
  }
  return number <= 255 ? number : 0;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const wchar_t* commandLine) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** split = ::CommandLineToArgvW(commandLine, &count);
  if (split == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, split[i], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, split[i], -1, argument.data(), size, nullptr, nullptr);
    argument.pop_back();  // the terminating zero
    arguments.push_back(std::move(argument));
  }
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
      const std::size_t equals = argument.find('=');
      const std::string name = Upper(argument.substr(0, equals));
      const std::string target = equals == std::string::npos ? std::string() : Upper(argument.substr(equals + 1));
      const int index = PortNumber(name) - 1;
      if (equals == std::string::npos || index < 0 || index > 3 || PortNumber(target) == 0) {
        parsed.request = CommandLineRequest::Error;
        parsed.error = "\"" + argument + "\" is not COMn=COMm (n from 1 to 4, m from 1 to 255)";
      } else {
        parsed.targets[static_cast<std::size_t>(index)] = target;
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
