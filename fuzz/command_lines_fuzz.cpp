// The command-line parsers: the port map's COMn=DEVICE arguments, the
// simulated device's options, tarnwick-demo's arguments and the desktop
// programs' --help and --version. The input is cut into arguments at its zero
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

// "COMn=DEVICE": n from 1 to 4 and a device that is not empty.
bool IsMapping(const std::string& argument) {
  return argument.size() >= 6 && argument.compare(0, 3, "COM") == 0 && argument[3] >= '1' && argument[3] <= '4' &&
         argument[4] == '=';
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

void CheckDemoArguments(const Arguments& arguments) {
  tarnwick::PortMap ports = StartingMap();
  tarnwick::ui::DemoOptions options;
  std::string error;
  if (!tarnwick::ui::ParseDemoArguments(arguments, ports, options, error)) {
    Check(!error.empty(), "a refused demo command line has no message");
    Check(ports.devices == StartingMap().devices, "a refused demo command line changed the port map");
    return;
  }
  Check(!options.imagePath.empty() && options.imagePath[0] != '-', "the demo took an option for its image");
  Check(std::find(arguments.begin(), arguments.end(), options.imagePath) != arguments.end(),
        "the demo's image path is none of its arguments");
  Check(options.timeoutSeconds > 0, "the demo took a time-out that is not positive");
}

// --help or -h anywhere asks for help; otherwise --version anywhere for the version.
void CheckInfoRequest(const Arguments& arguments) {
  using tarnwick::ui::InfoRequest;
  const auto has = [&arguments](const char* word) {
    return std::find(arguments.begin(), arguments.end(), word) != arguments.end();
  };
  const InfoRequest expected = has("--help") || has("-h") ? InfoRequest::Help
                               : has("--version")         ? InfoRequest::Version
                                                          : InfoRequest::None;
  Check(tarnwick::ui::InfoRequested(arguments) == expected, "--help or --version was not seen for what it is");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Arguments arguments = tarnwick::fuzz::SplitArguments(data, size);
  CheckPortMap(arguments);
  CheckDeviceOptions(arguments);
  CheckDemoArguments(arguments);
  CheckInfoRequest(arguments);
  return 0;
}
