// What a station's runs come to, in the words every front end shows them
// with: a run's result, why no device answered on the ports tried, and what
// a serial device of the machine is.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "lane.h"
#include "run_events.h"
#include "serial_devices.h"

namespace tarnwick::station {

// A message box's icon as a word: "information", "exclamation", "stop".
const char* IconName(MessageIcon icon);

// "PORT (PATH): success, 700 of 700 bytes in 1.2 s" and its newline, in
// `buffer` (cut short to fit); returns its length. Allocates nothing.
std::size_t ResultSentence(const RunResult& result, char* buffer, std::size_t size);

// One line for each port of `lane`'s last scan: what happened there, and
// what to check. `silentSeconds`: how long an opened port was probed.
std::vector<std::string> TriedPortSentences(const Lane& lane, double silentSeconds);

// The device's path, driver and USB IDs, then indented lines for the name
// Windows shows for it, its maker and product, its stable names, and whether
// this user may open it (or that only opening it would tell).
std::string DeviceDescription(const SerialDevice& device);

}  // namespace tarnwick::station
