// The command-line parsers: the port map's COMn=DEVICE arguments, the
// simulated device's options, and tarnwick's and tarnwick-demo's arguments
// with their --help and --version. The input is cut into arguments at its zero
// bytes, which no real argument can hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "device_options.h"
#include "fuzz_support.h"
#include "port_map.h"

namespace {

using tarnwick::fuzz::Check;
using Arguments = std::vector<std::string>;


bool IsOneLine(const std::string& text) { return !text.empty() && text.find('\n') == std::string::npos; }

tarnwick::PortMap StartingMap() {
  tarnwick::PortMap map;
  map.devices = {"/dev/ttyUSB0", "", "/dev/ttyS0", ""};
  return map;
}

// "COMn=DEVICE": n from 1 to 4, "COM" in any letter case, and a device that is
// not empty.
bool IsMapping(const std::string& argument) {
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return argument.size() >= 6 && upper(argument[0]) == 'C' && upper(argument[1]) == 'O' && upper(argument[2]) == 'M' &&
         argument[3] >= '1' && argument[3] <= '4' && argument[4] == '=';
}

void CheckPortMap(const Arguments& arguments) {
  tarnwick::PortMap map = StartingMap();
  std::string error;
  const bool applied = map.ApplyArguments(arguments, error);
  const bool allMappings = std::all_of(arguments.begin(), arguments.end(), IsMapping);
  Check(applied == allMappings, "ApplyArguments did not accept exactly the COMn=DEVICE arguments");

  tarnwick::PortMap expected = StartingMap();
  if (applied) {
    for (const auto& argument : arguments) {
      expected.devices[static_cast<std::size_t>(argument[3] - '1')] = argument.substr(5);
    }
  } else {
    Check(IsOneLine(error), "a refused port mapping has no one-line message");
  }
  Check(map.devices == expected.devices, "the port map is not what the arguments (or a refusal) leave");
}

void CheckDeviceOptions(const Arguments& arguments) {
  using Outcome = tarnwick::device::ParsedOptions::Outcome;
  const auto parsed = tarnwick::device::ParseDeviceOptions(arguments);
  if (parsed.outcome == Outcome::Error) {
    Check(IsOneLine(parsed.error), "a refused device command line has no one-line message");
    return;
  }
  if (parsed.outcome != Outcome::Run) return;
  const auto& options = parsed.options;
  const auto& faults = options.faults;
  for (const double rate :
       {faults.corrupt, faults.drop, faults.noise, faults.corruptSent, faults.dropSent, options.repeat}) {
    Check(rate >= 0.0 && rate <= 1.0, "a fault rate outside 0 to 1 was accepted");
  }
  Check(options.answerAfter >= 1, "--answer-after below 1 was accepted");
}

using tarnwick::options::Outcome;

// Whether `argument` stands where it is read as an option's or a positional's
// text, not after "--".
bool BeforeEndOfOptions(const Arguments& arguments, const std::string& argument) {
  const auto end = std::find(arguments.begin(), arguments.end(), "--");
  return std::find(arguments.begin(), end, argument) != end;
}

void CheckDemoArguments(const Arguments& arguments) {
  tarnwick::PortMap ports = StartingMap();
  tarnwick::ui::DemoOptions options;
  const auto parsed = tarnwick::ui::ParseDemoArguments(arguments, ports, options);
  if (parsed.outcome != Outcome::Run) {
    if (parsed.outcome == Outcome::Error) Check(IsOneLine(parsed.error), "a refused demo command line has no one-line message");
    Check(ports.devices == StartingMap().devices, "a demo command line that is not run changed the port map");
    Check(options.imagePath.empty(), "a demo command line that is not run set the image");
    return;
  }
  Check(!options.imagePath.empty(), "the demo took an empty image path");
  Check(std::find(arguments.begin(), arguments.end(), options.imagePath) != arguments.end(),
        "the demo's image path is none of its arguments");
  Check(options.imagePath[0] != '-' || options.imagePath == "-" || !BeforeEndOfOptions(arguments, options.imagePath),
        "the demo took an option for its image");
  Check(options.timeoutSeconds > 0, "the demo took a time-out that is not positive");
}

// tarnwick runs only on port mappings the map takes, and answers --help and
// --version however the mappings before them read.
void CheckProgramArguments(const Arguments& arguments) {
  tarnwick::PortMap ports = StartingMap();
  const auto parsed = tarnwick::ui::ParseProgramArguments(arguments, ports);
  if (parsed.outcome == Outcome::Error) {
    Check(IsOneLine(parsed.error), "a refused command line has no one-line message");
  }
  if (parsed.outcome != Outcome::Run) {
    Check(ports.devices == StartingMap().devices, "a command line that is not run changed the port map");
    return;
  }
  tarnwick::PortMap applied = StartingMap();
  std::string error;
  const bool taken = applied.ApplyArguments(arguments, error);
  const bool endOfOptions = std::find(arguments.begin(), arguments.end(), "--") != arguments.end();
  Check(taken || endOfOptions, "tarnwick ran on arguments the port map refuses");
  if (taken) Check(ports.devices == applied.devices, "the port map is not what the mappings leave");
  if (endOfOptions) return;
  for (const char* request : {"--help", "-h", "--version"}) {
    tarnwick::PortMap untouched = StartingMap();
    Arguments asking = arguments;
    asking.emplace_back(request);
    const Outcome expected = request[2] == 'v' ? Outcome::Version : Outcome::Help;
    Check(tarnwick::ui::ParseProgramArguments(asking, untouched).outcome == expected,
          "--help or --version after the mappings was not answered");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Arguments arguments = tarnwick::fuzz::SplitArguments(data, size);
  CheckPortMap(arguments);
  CheckDeviceOptions(arguments);
  CheckDemoArguments(arguments);
  CheckProgramArguments(arguments);
  return 0;
}
