// What a station does, as JSON Lines: one event a line, the same for every
// front end that gives it out (tarnwick-cli's --json, a web dashboard). Each
// function builds a whole line, newline included, in `line` and returns it;
// none allocates once the line has room (see JsonLine). `time` is in seconds
// since the front end began.
#pragma once

#include <cstdint>

#include "json_line.h"
#include "run_events.h"
#include "serial_devices.h"

namespace tarnwick::station {

// {"event":"status","port":...,"path":...,"time":...,"text":...}
const char* StatusEvent(JsonLine& line, const PortTarget* target, double time, const char* text);
// ...,"sent":N,"total":N,"percent":N}
const char* ProgressEvent(JsonLine& line, const PortTarget* target, double time, std::uint32_t sent,
                          std::uint32_t total);
// ...,"run":ID,"outcome":...,"device_status":N|null,"sent","total","seconds","image":{...}}
const char* ResultEvent(JsonLine& line, double time, const RunResult& result, const ImageInfo& image);
// ...,"programmed":N,"failed":N}: a lane's count at the end.
const char* SummaryEvent(JsonLine& line, const PortTarget& target, double time, unsigned programmed,
                         unsigned failed);
// {"event":"coalesced","time":...,"events":N}: events left out for a slow reader.
const char* CoalescedEvent(JsonLine& line, double time, std::uint64_t events);
// {"event":"device",...}: a serial device of the machine.
const char* DeviceEvent(JsonLine& line, const SerialDevice& device);

}  // namespace tarnwick::station
