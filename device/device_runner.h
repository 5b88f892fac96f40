// The serving loop of tarnwick-device: moves bytes between the line and the
// simulated device, paces them, injects the faults asked for, and reports
// each run.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <vector>

#include "device_line.h"
#include "device_options.h"
#include "simulated_device.h"

namespace tarnwick::device {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Serves runs on `line` until the runs asked for are done or `stop` turns
// true, then waits (at most about 2 s) until the host has read what was
// sent. With `hangUpAfter`, a run that has taken that many good blocks ends
// it all at once: the line is hung up and the run counts as cut short. Run
// reports go to `out`, frame logs (with -v) to `log`. Returns the exit
// status: kExitOk only when every run received its image whole (equal to
// `expected` when given), none was cut short and all runs asked for were served.
int ServeDevice(const DeviceOptions& options, const std::optional<std::vector<std::uint8_t>>& expected,
                DeviceLine& line, const std::atomic<bool>& stop, std::ostream& out, std::ostream& log);

// How long the device waits for a block before it asks again, at a line
// speed of `baud` (0: an unpaced pseudo-terminal). The host answers within a
// 100 ms tick; the rest is room for a loaded machine and the transfer itself.
LineTime BlockTimeout(unsigned baud);

// A file name as the program holds it (UTF-8) as the system takes it.
std::filesystem::path PathFromUtf8(const std::string& utf8);

}  // namespace tarnwick::device
