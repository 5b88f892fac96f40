// The machine's serial ports on Windows: the registry's SERIALCOMM list, which
// names every COM port the drivers have made, without opening any.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <charconv>

#include "serial_devices.h"
#include "win32_image_file.h"
#include "win32_serial_port.h"

namespace tarnwick {
namespace {

// "\\.\COMn": the only form CreateFile takes for COM10 and above.
std::string DevicePath(const std::string& comName) { return "\\\\.\\" + comName; }

}  // namespace

std::vector<SerialDevice> ListSerialDevices(const DeviceTree&) {
  std::vector<SerialDevice> devices;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return devices;
  }
  for (DWORD index = 0;; ++index) {
    char valueName[256];
    DWORD valueNameLength = sizeof valueName;
    char data[256];
    DWORD dataLength = sizeof data - 1;
    DWORD type = 0;
    const LONG status = ::RegEnumValueA(key, index, valueName, &valueNameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataLength);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataLength] = '\0';
    SerialDevice device;
    device.name = data;
    device.path = DevicePath(device.name);
    device.driver = valueName;  // the device object, such as \Device\Serial0
    devices.push_back(std::move(device));
  }
  ::RegCloseKey(key);
  std::sort(devices.begin(), devices.end(),
            [](const SerialDevice& a, const SerialDevice& b) { return ComNumber(a.name) < ComNumber(b.name); });
  return devices;
}

bool ComMapping(const DeviceTree&, const std::vector<std::string>& mappings, std::array<std::string, 4>& devices,
                std::string& error) {
  for (std::size_t i = 0; i < devices.size(); ++i) devices[i] = "COM" + std::to_string(i + 1);
  for (const std::string& mapping : mappings) {
    const PortArgument parsed = ParsePortArgument(mapping, error);
    if (parsed.kind != PortArgumentKind::ComMapping || parsed.comNumber > devices.size()) {
      error = BadPortMapping(mapping, static_cast<unsigned>(devices.size()));
      return false;
    }
    devices[parsed.comNumber - 1] = parsed.path;
  }
  return true;
}


std::vector<PortTarget> DefaultScanPorts(const DeviceTree&) {
  std::vector<PortTarget> targets;
  for (unsigned n = 1; n <= 4; ++n) {
    PortTarget target;
    target.label = "COM" + std::to_string(n);
    target.path = target.label;  // opened by name, as the dialog opens it
    targets.push_back(std::move(target));
  }
  return targets;
}

// COM names and device paths do not move when adapters come and go: what
// one names is fixed by the argument alone, and absent is never known before
// the port is opened.
bool ResolvePorts(const std::vector<std::string>& arguments, const DeviceTree&, std::vector<PortTarget>& targets,
                  std::string& error, Absent) {
  std::vector<PortTarget> resolved;
  for (const std::string& argument : arguments) {
    const PortArgument parsed = ParsePortArgument(argument, error);
    PortTarget target;
    target.label = argument;
    target.argument = argument;
    switch (parsed.kind) {
      case PortArgumentKind::Invalid:
        return false;
      case PortArgumentKind::ComName:
        target.label = "COM" + std::to_string(parsed.comNumber);
        target.path = target.label;
        break;
      case PortArgumentKind::ComMapping: {
        target.label = "COM" + std::to_string(parsed.comNumber);
        unsigned number = 0;
        std::string ignored;
        const PortArgument mapped = ParsePortArgument(parsed.path, ignored);
        number = mapped.kind == PortArgumentKind::ComName ? mapped.comNumber : 0;
        target.path = number != 0 ? "COM" + std::to_string(number) : parsed.path;
        break;
      }
      case PortArgumentKind::Path:
        target.path = parsed.path;
        break;
      case PortArgumentKind::ById:
      case PortArgumentKind::UsbId:
        error = "\"" + Printable(argument) + "\": on Windows a port is COMn or a device path such as \\\\.\\COM12";
        return false;
    }
    resolved.push_back(std::move(target));
  }
  targets = std::move(resolved);
  return true;
}

void ResolveAgain(const DeviceTree& tree, PortTarget& target) {
  std::vector<PortTarget> found;
  std::string error;
  if (!ResolvePorts({target.argument.empty() ? target.label : target.argument}, tree, found, error) || found.empty()) {
    target.path.clear();
    target.missing = error;
    return;
  }
  target.path = found.front().path;
  target.missing.clear();
}

bool StillNamed(const PortTarget& target) { return !target.path.empty(); }

std::unique_ptr<SerialPort> MakeSerialPort() { return std::make_unique<win32::Win32SerialPort>(); }

std::unique_ptr<ImageFile> MakeImageFile() { return std::make_unique<win32::Win32ImageFile>(); }

std::string OpenAdvice(const std::string&, const PortError& error) {
  switch (error.kind) {
    case PortErrorKind::NotFound:
      return "there is no such port: is the adapter plugged in? \"tarnwick-cli ports\" lists the ports present";
    case PortErrorKind::InUse:
      if (error.holderPid != 0) {
        const std::string name =
            error.holderName != nullptr && *error.holderName != '\0' ? error.holderName : "the program";
        return "close " + name + " (pid " + std::to_string(error.holderPid) + "), which holds it, or choose another port";
      }
      return "close the program that holds it, or choose another port";
    case PortErrorKind::PermissionDenied:
      return "another program may hold it, or your user may not open it";
    case PortErrorKind::Gone:
      return "the device went away: check the adapter and its cable";
    case PortErrorKind::NotATerminal:
    case PortErrorKind::None:
    case PortErrorKind::Other:
      break;
  }
  return "check that this is the port the device is on (\"tarnwick-cli ports\" lists them)";
}

}  // namespace tarnwick
