// What a station tells its front end about its runs, as data: the image, a
// run's start and its result, and the observer that hears of them.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "run_machine.h"
#include "serial_devices.h"
#include "window_ops.h"

namespace tarnwick::station {

using SteadyTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// The outcome as the run record and the JSON output name it: "success",
// "failure", "no-device", "stalled", "port-lost", "interrupted".
const char* OutcomeName(RunOutcome outcome);

// The image as programmed, and the file it came from: a file longer than the
// image format holds is programmed from its first kMaxImageLength bytes only.
struct ImageInfo {
  std::string path;
  std::uint32_t bytes = 0;            // the bytes programmed
  std::array<char, 65> sha256{};      // their SHA-256
  std::uint64_t fileBytes = 0;        // the whole file
  std::array<char, 65> fileSha256{};  // its SHA-256
};

// Names one run in the log and the results: 16 lower-case hex digits, drawn
// at random, so that stations sharing a log never give two runs one name.
using RunId = std::array<char, 17>;

// A run whose device has just answered.
struct RunStart {
  const PortTarget* target = nullptr;
  RunId id{};
  WallTime start;
};

struct RunResult {
  const PortTarget* target = nullptr;  // nullptr: several ports were tried and none answered
  RunOutcome outcome = RunOutcome::Success;
  // The status the device reported at the end; none when it reported nothing
  // (no device, stalled, port lost, interrupted).
  std::optional<std::uint8_t> deviceStatus;
  RunId id{};
  std::uint32_t sent = 0;
  std::uint32_t total = 0;
  double seconds = 0;
  WallTime start;
  WallTime end;
};

class Lane;

// How a front end hears of everything a station does; nothing in the station
// prints. Every call comes from the station's Tick (or Start, Interrupt), on
// the thread that steps it. Texts are valid during the call only.
class StationObserver {
 public:
  virtual ~StationObserver() = default;
  // The lane's status line, and the longer explanation that goes with it.
  virtual void Status(const Lane& /*lane*/, const char* /*text*/) {}
  virtual void Detail(const Lane& /*lane*/, const char* /*detail*/) {}
  virtual void Progress(const Lane& /*lane*/, std::uint32_t /*sent*/, std::uint32_t /*total*/) {}
  // A message the dialog would show in a box.
  virtual void Message(const Lane& /*lane*/, const char* /*text*/, MessageIcon /*icon*/) {}
  // The run's device answered for the first time; the run is recorded as started.
  virtual void Started(const Lane& /*lane*/, const RunStart& /*start*/) {}
  virtual void Result(const Lane& /*lane*/, const RunResult& /*result*/) {}
  // A record the run log did not take (`record`, with its newline). The first
  // time, `failure` says which log and why, and no new run starts from then on.
  virtual void NotLogged(const char* /*failure*/, bool /*first*/, const char* /*record*/, std::size_t /*length*/) {}
};

}  // namespace tarnwick::station
