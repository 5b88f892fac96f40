// USB serial adapters picked out by "usb:VID:PID[:SERIAL]", and the IDs and
// names Windows gives COM ports and such adapters read without any Windows
// header, so both platforms share them.
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

// The USB adapter behind a COM port's device, from its instance ID, its first
// hardware ID and its parent's instance ID (the USB device above a driver's
// own bus, or above one interface of a composite adapter): the serial number
// from the parent where the device's own IDs hold none. False when it is no
// USB adapter. Views into the IDs; allocates nothing.
bool UsbIdentity(std::string_view instanceId, std::string_view hardwareId, std::string_view parentId, UsbDeviceId& usb);

// What SetupAPI and the registry say of one COM port, in UTF-8; empty where
// they say nothing.
struct ComPortProperties {
  std::string portName;         // "COM5"
  std::string friendlyName;     // "USB Serial Port (COM5)"
  std::string service;          // the driver's service ("usbser", "FTDIBUS"), or the device object
  std::string manufacturer;     // as the driver names it: "FTDI"
  std::string busReportedName;  // the product name the USB device reports for itself
  std::string instanceId;       // "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000"
  std::string hardwareId;       // the first, most specific: "USB\VID_1A86&PID_7523&REV_0264"
  std::string parentId;         // the parent's instance ID: "USB\VID_0403&PID_6001\A50285BI"
};

// The serial device a COM port is. Whether the user may open it is Unknown:
// Windows sets no rights on COM ports and tells whether one is held only when
// it is opened.
SerialDevice DescribeComPort(const ComPortProperties& port);

// The USB adapters of `devices` that `argument` (a UsbId) names, in order.
std::vector<const SerialDevice*> MatchUsb(const PortArgument& argument, const std::vector<SerialDevice>& devices);

// "usb:VID:PID:SERIAL" for this one adapter; empty when it has no serial number.
std::string UsbArgument(const SerialDevice& device);

}  // namespace tarnwick
