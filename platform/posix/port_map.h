// Which device stands behind each of the operator's port names, COM1 to COM4.
//
// By default they are the machine's first four serial ports, USB adapters
// first; "COMn=PATH" arguments on the command line replace single entries,
// e.g. to point a name at a pseudo-terminal.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

inline constexpr std::size_t kPortNameCount = 4;

// Which device stands behind each operator port name; index 0 is COM1. Empty: no device.
struct PortMap {
  std::array<std::string, kPortNameCount> devices;

  // The machine's serial ports in order: /dev/ttyUSB* by number, /dev/ttyACM* by number,
  // then /dev/ttyS* that have a UART behind them (as sysfs tells), first four to COM1..COM4.
  // Roots are parameters so tests can use a fake tree.
  static PortMap Discover(const std::string& devRoot = "/dev", const std::string& sysRoot = "/sys");

  // Applies "COMn=PATH" arguments (n 1..4), each replacing one entry. On a malformed one returns
  // false and sets `error` to a one-line message naming the argument; the map is then unchanged.
  bool ApplyArguments(const std::vector<std::string>& arguments, std::string& error);

  // The device for "COM1".."COM4"; empty for an unknown name or a name with no device.
  const std::string& DeviceFor(const char* portName) const;
};

// Names in `devRoot` of the form prefix + number, such as "ttyUSB12", in the
// order of their numbers.
std::vector<std::string> NumberedDevices(const std::string& devRoot, std::string_view prefix);

// Whether the on-board port `name` (such as "ttyS0") has a UART behind it. The
// kernel makes ttyS nodes for every possible 8250 slot; sysfs tells the real
// ones by a bound driver and a port type other than 0 (unknown).
bool HasUart(const std::string& sysRoot, const std::string& name);

}  // namespace tarnwick
