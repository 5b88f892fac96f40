// What `ports --json` says of one serial device, as one JSON object.
#pragma once

#include "json_line.h"
#include "serial_devices.h"

namespace tarnwick::cli {

// Writes the device's members into `line`, which the caller has cleared.
void DeviceFields(station::JsonLine& line, const SerialDevice& device);

}  // namespace tarnwick::cli
