// The command line of tarnwick-device.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line_faults.h"

namespace tarnwick::device {

struct DeviceOptions {
  std::string port;          // empty: create a pseudo-terminal
  std::string link;          // symlink to the pseudo-terminal's serial end
  std::string out;           // where received images are written
  std::string expect;        // raw file the received images must equal
  unsigned baud = 4800;      // 0: no pacing
  unsigned runs = 0;         // 0: serve runs until stopped
  std::optional<std::uint8_t> status;
  unsigned answerAfter = 1;
  bool silent = false;
  bool verbose = false;
  std::uint32_t seed = 1;
  FaultRates faults;
  double repeat = 0.0;
  std::optional<unsigned> hangUpAfter;  // good blocks of a run after which the line is closed for good
};

struct ParsedOptions {
  enum class Outcome { Run, Help, Version, Error } outcome = Outcome::Run;
  DeviceOptions options;
  std::string error;  // one line for the user when outcome is Error
};

ParsedOptions ParseDeviceOptions(const std::vector<std::string>& arguments);

std::string DeviceUsage();

// Where the image of run `run` (counted from 1) is written: FILE, FILE.2, FILE.3 ...
std::string OutputPathForRun(const std::string& out, unsigned run);

}  // namespace tarnwick::device
