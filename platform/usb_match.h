// USB serial adapters picked out by "usb:VID:PID[:SERIAL]", and the IDs
// Windows gives such adapters read without any Windows header, so both
// platforms share them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "serial_devices.h"

namespace tarnwick {

// The USB adapter a Windows device ID names: "USB\VID_0403&PID_6001\A50285BI",
// "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000", a hardware ID such as
// "USB\VID_1A86&PID_7523&REV_0264". Views into the ID read, never copies.
struct UsbDeviceId {
  std::string_view vendorId, productId;  // four hex digits each, as the ID writes them
  // The adapter's serial number; empty where the ID holds none (Windows
  // makes up one with '&' in it for an adapter that has no serial number,
  // and for each interface of a composite device).
  std::string_view serial;
};

// False when `id` names no USB vendor and product.
bool ReadUsbDeviceId(std::string_view id, UsbDeviceId& read);

// Whether two serial numbers are the same; Windows gives them in capitals.
bool SameUsbSerial(std::string_view a, std::string_view b);

// The USB adapters of `devices` that `argument` (a UsbId) names, in order.
std::vector<const SerialDevice*> MatchUsb(const PortArgument& argument, const std::vector<SerialDevice>& devices);

// "usb:VID:PID:SERIAL" for this one adapter; empty when it has no serial number.
std::string UsbArgument(const SerialDevice& device);

}  // namespace tarnwick
