// tarnwick-cli's command line as the program parses it, and the PORT
// arguments it passes on. The input is cut into arguments at its zero bytes.
// Checked: the parser only ever refuses by a usage error (nothing else
// escapes it); what it accepts is in range (--stall-timeout a finite number
// of seconds from 0.1 to 86400, --log a file name or no log); exactly one
// command runs, with the arguments it needs, each one of those given; and
// each PORT is of one kind, or refused with a reason.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "cli_options.h"
#include "fuzz_support.h"
#include "json_line.h"

namespace {

using tarnwick::cli::CommandLine;
using tarnwick::PortArgument;
using tarnwick::PortArgumentKind;
using tarnwick::fuzz::Check;


void CheckPortArgument(const std::string& text) {
  std::string error;
  const PortArgument parsed = tarnwick::ParsePortArgument(text, error);
  Check(parsed.text == text, "a port argument's text is not what was given");
  if (parsed.kind == PortArgumentKind::Invalid) {
    Check(!error.empty(), "a refused port argument has no reason");
    return;
  }
  Check(error.empty(), "an accepted port argument came with an error");
  switch (parsed.kind) {
    case PortArgumentKind::ComName:
      Check(parsed.comNumber >= 1 && text.size() >= 4, "COMn with n below 1");
      break;
    case PortArgumentKind::ComMapping:
      Check(parsed.comNumber >= 1 && !parsed.path.empty(), "COMn=PATH without n or PATH");
      Check(text.size() > parsed.path.size() && text.compare(text.size() - parsed.path.size(), std::string::npos,
                                                             parsed.path) == 0,
            "COMn=PATH's path is not the text after '='");
      break;
    case PortArgumentKind::UsbId:
      Check(text.rfind("usb:", 0) == 0 && parsed.vendorId <= 0xFFFF && parsed.productId <= 0xFFFF,
            "usb:VID:PID with an ID above 16 bits");
      Check(parsed.serial.empty() || text.size() > parsed.serial.size(), "usb: serial longer than the argument");
      break;
    case PortArgumentKind::Path:
      Check(parsed.path == text && text.find_first_of("/\\") != std::string::npos, "a path without a separator");
      break;
    case PortArgumentKind::ById:
      Check(parsed.path == text && !text.empty() && text.find_first_of("/\\") == std::string::npos,
            "a by-id name that is not a plain name");
      break;
    case PortArgumentKind::Invalid:
      break;
  }
}

bool Given(const std::vector<std::string>& given, const std::string& argument) {
  return std::find(given.begin(), given.end(), argument) != given.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> given = tarnwick::fuzz::SplitArguments(data, size);
  given.insert(given.begin(), "tarnwick-cli");
  std::vector<const char*> argv;
  for (const std::string& argument : given) argv.push_back(argument.c_str());

  CommandLine line;
  const auto app = tarnwick::cli::MakeApp(line, {"0 success.", "0 when all succeeded.", "0."});
  try {
    tarnwick::cli::ParseArguments(*app, line, static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& error) {
    std::ostringstream out, err;
    const int status = app->exit(error, out, err);
    // Help and the version go to standard output; a refusal says why on standard error.
    Check(status == 0 || !err.str().empty(), "a refused command line has no message");
    return 0;
  } catch (const std::exception&) {
    tarnwick::fuzz::Fail("the parser threw something other than a usage error");
  }

  const int commands = (*line.ports ? 1 : 0) + (*line.program ? 1 : 0) + (*line.station ? 1 : 0);
  Check(commands == 1, "not exactly one command");
  const auto& options = line.options;
  Check(std::isfinite(options.stallTimeout) && options.stallTimeout >= 0.1 && options.stallTimeout <= 86400.0,
        "a --stall-timeout out of range was accepted");
  const bool logAsked = std::any_of(given.begin() + 1, std::find(given.begin(), given.end(), "--"),
                                    [](const std::string& argument) {
                                      return argument == "--log" || argument.rfind("--log=", 0) == 0;
                                    });
  if (!*line.ports) Check(logAsked == !options.logPath.empty(), "--log given but no log file, or the other way");

  const std::vector<std::string>& arguments =
      *line.program ? line.programArguments : *line.station ? line.stationArguments : line.portsArguments;
  if (!*line.ports) Check(!arguments.empty(), "a command ran without its image");
  for (const std::string& argument : arguments) Check(Given(given, argument), "an argument nobody gave");
  if (!*line.ports) {
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) CheckPortArgument(arguments[i]);
  }
  // The lines are sized for every argument, escaped at worst.
  for (const std::string& argument : arguments) {
    Check(tarnwick::cli::LongestJsonLine(line) >= 2 * tarnwick::station::JsonLine::StringRoom(argument.size()),
          "the JSON lines are sized shorter than an argument");
  }
  return 0;
}
