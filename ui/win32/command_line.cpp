#include "command_line.h"

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

CommandLine ParseCommandLine(const char* arguments) {
  CommandLine parsed;
  std::string argument;
  bool quoted = false;
  for (const char* at = arguments;; ++at) {
    const char c = at == nullptr ? '\0' : *at;
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (c != '\0' && (quoted || (c != ' ' && c != '\t'))) {
      argument.push_back(c);
      continue;
    }
    if (!argument.empty()) {
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
      argument.clear();
    }
    if (c == '\0') break;
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
