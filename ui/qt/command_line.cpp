#include "command_line.h"

#include <charconv>

namespace tarnwick::ui {

namespace {

options::Parsed Applied(options::Parsed parsed, const std::vector<std::string>& mappings, PortMap& ports) {
  if (parsed.outcome != options::Outcome::Run) return parsed;
  std::string error;
  return ports.ApplyArguments(mappings, error) ? parsed : options::Refused(error);
}

}  // namespace

std::unique_ptr<CLI::App> MakeProgramApp(std::vector<std::string>& mappings) {
  auto app = options::MakeApp(
      {"tarnwick",
       {"[COMn=DEVICE]...", "--help | --version"},
       "Programs a target device over a serial line. COM1 to COM4 stand for the\n"
       "machine's first four serial ports; COMn=DEVICE points one of them at a\n"
       "device of your choice, e.g.  tarnwick COM3=/dev/ttyUSB0",
       "Exit status: 0 when the dialog is closed; 2 for a wrong argument."});
  app->add_option("mappings", mappings, "have the scan open DEVICE where it would open COMn (n from 1 to 4)")
      ->type_name("COMn=DEVICE");
  return app;
}

options::Parsed ParseProgramArguments(const std::vector<std::string>& arguments, PortMap& ports) {
  std::vector<std::string> mappings;
  const auto app = MakeProgramApp(mappings);
  return Applied(options::Parse(*app, arguments), mappings, ports);
}

std::string ProgramUsage() {
  std::vector<std::string> mappings;
  return MakeProgramApp(mappings)->help();
}

std::unique_ptr<CLI::App> MakeDemoApp(DemoOptions& options, std::vector<std::string>& rest) {
  auto app = options::MakeApp(
      {"tarnwick-demo",
       {"[--timeout SECONDS] [COMn=DEVICE]... IMAGE.UPL", "--help | --version"},
       "Runs the programming dialog without a display: loads IMAGE.UPL, presses\n"
       "Program and prints each status text and message as it appears.",
       "Exit status: 0 only when the device reported success; 1 on a failure or\n"
       "after the time-out; 2 for a wrong argument."});
  app->add_option_function<std::string>(
         "--timeout",
         [&options](const std::string& value) {
           int seconds = 0;
           const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), seconds);
           if (failure != std::errc() || end != value.data() + value.size() || seconds <= 0) {
             throw CLI::ValidationError("--timeout needs a positive number of seconds, not \"" + value + "\"");
           }
           options.timeoutSeconds = seconds;
         },
         "give up after SECONDS (default 600)")
      ->type_name("SECONDS");
  app->add_option("arguments", rest, "as for tarnwick, e.g. COM3=/dev/ttyUSB0")->type_name("COMn=DEVICE");
  return app;
}

options::Parsed ParseDemoArguments(const std::vector<std::string>& arguments, PortMap& ports, DemoOptions& options) {
  DemoOptions parsedOptions;
  std::vector<std::string> positionals;
  const auto app = MakeDemoApp(parsedOptions, positionals);
  const options::Parsed parsed = options::Parse(*app, arguments);
  if (parsed.outcome != options::Outcome::Run) return parsed;
  std::vector<std::string> mappings;
  std::vector<std::string> rest;
  for (const std::string& argument : positionals) {
    (argument.starts_with("COM") && argument.find('=') != std::string::npos ? mappings : rest).push_back(argument);
  }
  if (rest.size() != 1 || rest.front().empty()) {
    return options::Refused(rest.empty() ? "the path of an image is missing"
                                         : "expected one image path, not \"" + rest.back() + "\"");
  }
  parsedOptions.imagePath = rest.front();
  const options::Parsed applied = Applied(parsed, mappings, ports);
  if (applied.outcome == options::Outcome::Run) options = parsedOptions;
  return applied;
}

std::string DemoUsage() {
  DemoOptions options;
  std::vector<std::string> rest;
  return MakeDemoApp(options, rest)->help();
}

}  // namespace tarnwick::ui
