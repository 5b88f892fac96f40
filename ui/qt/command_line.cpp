#include "command_line.h"

#include <charconv>

namespace tarnwick::ui {

std::string ProgramUsage() {
  return "usage: tarnwick [COMn=DEVICE]...\n"
         "       tarnwick --help | --version\n"
         "Programs a target device over a serial line. COM1 to COM4 stand for the\n"
         "machine's first four serial ports; COMn=DEVICE points one of them at a\n"
         "device of your choice, e.g.  tarnwick COM3=/dev/ttyUSB0\n"
         "\n"
         "Options:\n"
         "  COMn=DEVICE  have the scan open DEVICE where it would open COMn (n from 1 to 4)\n"
         "  --help       show this text and exit\n"
         "  --version    show the version and exit\n"
         "\n"
         "Exit status: 0 when the dialog is closed; 2 for a wrong argument.\n";
}

bool ParseDemoArguments(const std::vector<std::string>& arguments, PortMap& ports, DemoOptions& options,
                        std::string& error) {
  std::vector<std::string> mappings;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--timeout") {
      if (i + 1 == arguments.size()) {
        error = "--timeout needs a number of seconds";
        return false;
      }
      const std::string& value = arguments[++i];
      int seconds = 0;
      const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (failure != std::errc() || end != value.data() + value.size() || seconds <= 0) {
        error = "--timeout needs a positive number of seconds, not \"" + value + "\"";
        return false;
      }
      options.timeoutSeconds = seconds;
    } else if (argument.starts_with("COM") && argument.find('=') != std::string::npos) {
      mappings.push_back(argument);
    } else {
      rest.push_back(argument);
    }
  }
  if (rest.size() != 1 || rest.front().empty() || rest.front().starts_with("-")) {
    error = rest.empty() ? "the path of an image is missing" : "expected one image path, not \"" + rest.back() + "\"";
    return false;
  }
  // ApplyArguments leaves the map as it was when it refuses an argument.
  if (!ports.ApplyArguments(mappings, error)) return false;
  options.imagePath = rest.front();
  return true;
}

std::string DemoUsage() {
  return "usage: tarnwick-demo [--timeout SECONDS] [COMn=DEVICE]... IMAGE.UPL\n"
         "       tarnwick-demo --help | --version\n"
         "Runs the programming dialog without a display: loads IMAGE.UPL, presses\n"
         "Program and prints each status text and message as it appears.\n"
         "\n"
         "Options:\n"
         "  --timeout SECONDS  give up after SECONDS (default 600)\n"
         "  COMn=DEVICE        as for tarnwick, e.g. COM3=/dev/ttyUSB0\n"
         "  --help             show this text and exit\n"
         "  --version          show the version and exit\n"
         "\n"
         "Exit status: 0 only when the device reported success; 1 on a failure or\n"
         "after the time-out; 2 for a wrong argument.\n";
}

InfoRequest InfoRequested(const std::vector<std::string>& arguments) {
  InfoRequest request = InfoRequest::None;
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") return InfoRequest::Help;
    if (argument == "--version") request = InfoRequest::Version;
  }
  return request;
}

std::vector<std::string> ArgumentsOf(int argc, char* argv[]) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

}  // namespace tarnwick::ui
