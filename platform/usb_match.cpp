#include "usb_match.h"

#include <algorithm>
#include <charconv>

namespace tarnwick {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

bool FourHexDigits(std::string_view text) {
  return text.size() == 4 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

unsigned HexValue(const std::string& text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc() && end == text.data() + text.size() ? value : 0xFFFFFFFFu;
}

}  // namespace

bool ReadUsbDeviceId(std::string_view id, UsbDeviceId& read) {
  read = {};
  // ENUMERATOR\DEVICE\INSTANCE, the device part's fields joined by '&' (or
  // by '+' where the FTDI bus driver makes the ID).
  const std::size_t first = id.find('\\');
  if (first == std::string_view::npos) return false;
  const std::string_view enumerator = id.substr(0, first);
  std::string_view device = id.substr(first + 1);
  std::string_view instance;
  if (const std::size_t second = device.find('\\'); second != std::string_view::npos) {
    instance = device.substr(second + 1);
    device = device.substr(0, second);
  }
  std::size_t afterProduct = std::string_view::npos;
  for (std::size_t start = 0; start <= device.size();) {
    const std::size_t end = std::min(device.find_first_of("&+", start), device.size());
    const std::string_view field = device.substr(start, end - start);
    const std::string_view prefix = field.substr(0, 4);
    if (read.vendorId.empty() && SameLetters(prefix, "VID_") && FourHexDigits(field.substr(4))) {
      read.vendorId = field.substr(4);
    } else if (!read.vendorId.empty() && read.productId.empty() && SameLetters(prefix, "PID_") &&
               FourHexDigits(field.substr(4))) {
      read.productId = field.substr(4);
      afterProduct = end;
    }
    start = end + 1;
  }
  if (read.vendorId.empty() || read.productId.empty()) {
    read = {};
    return false;
  }
  std::string_view serial;
  if (SameLetters(enumerator, "USB")) {
    // The instance part is the serial number where the adapter has one.
    serial = instance;
  } else if (SameLetters(enumerator, "FTDIBUS") && afterProduct < device.size() && device[afterProduct] == '+') {
    // The serial number with the letter of the chip's port (A, B...) after it.
    serial = device.substr(afterProduct + 1);
    if (serial.size() > 1 && serial.back() >= 'A' && serial.back() <= 'H') serial.remove_suffix(1);
  }
  if (serial.find('&') == std::string_view::npos) read.serial = serial;
  return true;
}

bool SameUsbSerial(std::string_view a, std::string_view b) { return SameLetters(a, b); }

bool UsbIdentity(std::string_view instanceId, std::string_view hardwareId, std::string_view parentId,
                 UsbDeviceId& usb) {
  UsbDeviceId parent;
  const bool parentIsUsb = ReadUsbDeviceId(parentId, parent);
  if (!ReadUsbDeviceId(instanceId, usb) && !ReadUsbDeviceId(hardwareId, usb)) {
    if (!parentIsUsb) return false;
    usb = parent;
    return true;
  }
  if (usb.serial.empty() && parentIsUsb && SameLetters(parent.vendorId, usb.vendorId) &&
      SameLetters(parent.productId, usb.productId)) {
    usb.serial = parent.serial;
  }
  return true;
}

SerialDevice DescribeComPort(const ComPortProperties& port) {
  SerialDevice device;
  device.name = port.portName;
  device.path = "\\\\.\\" + port.portName;  // the form CreateFile takes for every COM port
  device.friendlyName = port.friendlyName;
  device.driver = port.service;
  device.manufacturer = port.manufacturer;
  device.product = port.busReportedName;
  if (device.product.empty()) {
    // "USB Serial Port (COM3)": the name without the port's.
    device.product = port.friendlyName;
    const std::string suffix = " (" + port.portName + ")";
    if (device.product.ends_with(suffix)) device.product.resize(device.product.size() - suffix.size());
  }
  UsbDeviceId usb;
  if (UsbIdentity(port.instanceId, port.hardwareId, port.parentId, usb)) {
    device.usb = true;
    device.vendorId = Lower(usb.vendorId);
    device.productId = Lower(usb.productId);
    device.serial = std::string(usb.serial);
  }
  device.access = PortAccess::Unknown;
  device.accessAdvice = "Windows tells only when a program opens the port, and another program may hold it";
  return device;
}

std::vector<const SerialDevice*> MatchUsb(const PortArgument& argument, const std::vector<SerialDevice>& devices) {
  std::vector<const SerialDevice*> matches;
  if (argument.kind != PortArgumentKind::UsbId) return matches;
  for (const SerialDevice& device : devices) {
    if (!device.usb || HexValue(device.vendorId) != argument.vendorId ||
        HexValue(device.productId) != argument.productId) {
      continue;
    }
    if (!argument.serial.empty() && !SameUsbSerial(device.serial, argument.serial)) continue;
    matches.push_back(&device);
  }
  return matches;
}

std::string UsbArgument(const SerialDevice& device) {
  if (!device.usb || device.serial.empty()) return {};
  return "usb:" + device.vendorId + ":" + device.productId + ":" + device.serial;
}

}  // namespace tarnwick
