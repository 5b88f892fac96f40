// The machine's serial devices as /dev and sysfs describe them.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "permission_hint.h"
#include "port_map.h"
#include "serial_devices.h"
#include "usb_match.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without its newline; empty if none.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

fs::path Canonical(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::canonical(path, error);
  return error ? path.lexically_normal() : resolved;
}

// The USB device above a tty in sysfs: the first folder up from its device
// that has an idVendor, staying inside `sysRoot`.
void ReadUsbAttributes(const fs::path& sysRoot, const std::string& name, SerialDevice& device) {
  const fs::path root = Canonical(sysRoot);
  const fs::path ttyDevice = fs::path(sysRoot) / "class" / "tty" / name / "device";
  std::error_code error;
  if (!fs::exists(ttyDevice, error)) return;
  if (fs::exists(ttyDevice / "driver", error)) {
    device.driver = Canonical(ttyDevice / "driver").filename().string();
  }
  for (fs::path folder = Canonical(ttyDevice); folder != root && folder.has_relative_path();
       folder = folder.parent_path()) {
    const auto [rootEnd, folderAt] = std::mismatch(root.begin(), root.end(), folder.begin(), folder.end());
    if (rootEnd != root.end()) return;  // left the tree
    if (fs::exists(folder / "idVendor", error)) {
      device.usb = true;
      device.vendorId = Attribute(folder / "idVendor");
      device.productId = Attribute(folder / "idProduct");
      device.manufacturer = Attribute(folder / "manufacturer");
      device.product = Attribute(folder / "product");
      device.serial = Attribute(folder / "serial");
      return;
    }
  }
}

int OperatingSystemAccess(const std::string& path) { return ::access(path.c_str(), R_OK | W_OK) == 0 ? 0 : errno; }

void Describe(PortTarget& target, const std::vector<SerialDevice>& devices, const DeviceTree& tree) {
  const fs::path resolved = Canonical(target.path);
  for (const SerialDevice& device : devices) {
    if (Canonical(device.path) != resolved) continue;
    if (!device.byId.empty()) target.byId = device.byId.front();
    target.usbSerial = device.serial;
    if (device.usb && !device.serial.empty()) {
      target.sysDevice = (fs::path(tree.sysRoot) / "class" / "tty" / device.name / "device").string();
    }
    return;
  }
}

// Whether the USB device above the tty whose sysfs device is `sysDevice` has
// the serial number `serial`; in fixed buffers only.
bool UsbSerialIs(const char* sysDevice, std::string_view serial) {
  char folder[PATH_MAX];
  if (::realpath(sysDevice, folder) == nullptr) return false;
  for (int depth = 0; depth < 32; ++depth) {
    char file[PATH_MAX + 16];
    std::snprintf(file, sizeof file, "%s/idVendor", folder);
    if (::access(file, F_OK) == 0) {
      std::snprintf(file, sizeof file, "%s/serial", folder);
      const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
      if (fd < 0) return false;
      char text[512];  // a USB string is at most 126 UTF-16 units
      const ssize_t got = ::read(fd, text, sizeof text);
      ::close(fd);
      std::size_t length = got > 0 ? static_cast<std::size_t>(got) : 0;
      while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) --length;
      return std::string_view(text, length) == serial;
    }
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr || slash == folder) return false;
    *slash = '\0';
  }
  return false;
}

// COM1 to COM4 as the dialog's discovery gives them: the first four devices
// of the listing, which walks /dev and sysfs in the same order. The listing
// is read once for both.
PortMap ComNamesOf(const std::vector<SerialDevice>& devices) {
  PortMap map;
  for (std::size_t i = 0; i < map.devices.size() && i < devices.size(); ++i) map.devices[i] = devices[i].path;
  return map;
}

// Absent::Wait: a path that is not there stands for nothing yet.
bool AbsentPath(const std::string& path, Absent absent, PortTarget& target) {
  std::error_code error;
  if (absent != Absent::Wait || fs::exists(path, error)) return false;
  target.path.clear();
  target.missing = "nothing at " + Printable(path) + ": is the adapter plugged in?";
  return true;
}

// What one PORT argument stands for now, appended to `out`; false and `error`
// when it names no port.
bool ResolveArgument(const std::string& argument, const DeviceTree& tree, const PortMap& discovered,
                     const std::vector<SerialDevice>& devices, Absent absent, std::vector<PortTarget>& out,
                     std::string& error) {
  const PortArgument parsed = ParsePortArgument(argument, error);
  PortTarget target;
  target.label = argument;
  target.argument = argument;
  std::string stableName;
  switch (parsed.kind) {
    case PortArgumentKind::Invalid:
      return false;
    case PortArgumentKind::ComName:
      if (parsed.comNumber > discovered.devices.size()) {
        error = "\"" + Printable(argument) +
                "\": only COM1 to COM4 stand for ports here; name the device instead (a path, "
                "a /dev/serial/by-id name or usb:VID:PID)";
        return false;
      }
      target.label = "COM" + std::to_string(parsed.comNumber);
      target.path = discovered.devices[parsed.comNumber - 1];
      if (target.path.empty()) target.missing = "no serial device for it on this machine";
      target.follow = target.path;
      break;
    case PortArgumentKind::ComMapping:
      if (parsed.comNumber > discovered.devices.size()) {
        error = BadPortMapping(argument, static_cast<unsigned>(discovered.devices.size()));
        return false;
      }
      target.label = "COM" + std::to_string(parsed.comNumber);
      target.path = parsed.path;
      target.follow = parsed.path;
      AbsentPath(parsed.path, absent, target);
      break;
    case PortArgumentKind::ById: {
      const fs::path link = fs::path(tree.devRoot) / "serial" / "by-id" / parsed.path;
      std::error_code missing;
      if (!fs::exists(link, missing)) {
        if (absent == Absent::Error) {
          error = "\"" + Printable(argument) + "\" is neither a port name nor a device under " +
                  (fs::path(tree.devRoot) / "serial" / "by-id").string();
          return false;
        }
        target.missing = "no adapter is plugged in under that name (nothing at " + Printable(link.string()) + ")";
        break;
      }
      target.path = Canonical(link).string();
      stableName = link.string();
      target.follow = stableName;
      break;
    }
    case PortArgumentKind::Path: {
      // A link (a by-id path, say) stands for the device it points to.
      if (AbsentPath(parsed.path, absent, target)) break;
      std::error_code missing;
      target.path = fs::exists(parsed.path, missing) ? Canonical(parsed.path).string() : parsed.path;
      target.follow = parsed.path;
      break;
    }
    case PortArgumentKind::UsbId: {
      const std::vector<const SerialDevice*> matches = MatchUsb(parsed, devices);
      for (const SerialDevice* device : matches) {
        PortTarget match;
        match.label = argument;
        match.path = Canonical(device->path).string();
        match.follow = device->path;
        // Each of several adapters is its own port from now on: by its serial
        // number, else its stable name, else its node.
        match.argument = matches.size() == 1             ? argument
                         : !UsbArgument(*device).empty() ? UsbArgument(*device)
                         : !device->byId.empty()         ? device->byId.front()
                                                         : device->path;
        Describe(match, devices, tree);
        out.push_back(std::move(match));
      }
      if (matches.empty()) {
        target.missing = "no USB serial adapter with that ID is plugged in";
        out.push_back(std::move(target));
      }
      return true;
    }
  }
  if (!target.path.empty()) Describe(target, devices, tree);
  // A stable name given is the name the device goes by.
  if (!target.path.empty() && !stableName.empty()) target.byId = stableName;
  out.push_back(std::move(target));
  return true;
}

}  // namespace

std::vector<SerialDevice> ListSerialDevices(const DeviceTree& tree) {
  std::vector<std::string> names = NumberedDevices(tree.devRoot, "ttyUSB");
  for (auto& name : NumberedDevices(tree.devRoot, "ttyACM")) names.push_back(std::move(name));
  for (auto& name : NumberedDevices(tree.devRoot, "ttyS")) {
    if (HasUart(tree.sysRoot, name)) names.push_back(std::move(name));
  }

  // Stable names: the links under /dev/serial/by-id, by what they point to.
  std::vector<std::pair<fs::path, std::string>> links;
  std::error_code error;
  const fs::path byIdFolder = fs::path(tree.devRoot) / "serial" / "by-id";
  for (fs::directory_iterator entry(byIdFolder, error), end; !error && entry != end; entry.increment(error)) {
    links.emplace_back(Canonical(entry->path()), entry->path().string());
  }
  std::sort(links.begin(), links.end());

  std::vector<SerialDevice> devices;
  for (const std::string& name : names) {
    SerialDevice device;
    device.name = name;
    device.path = (fs::path(tree.devRoot) / name).string();
    const fs::path resolved = Canonical(device.path);
    for (const auto& [target, link] : links) {
      if (target == resolved) device.byId.push_back(link);
    }
    ReadUsbAttributes(tree.sysRoot, name, device);
    const int denied = tree.accessError ? tree.accessError(device.path) : OperatingSystemAccess(device.path);
    device.access = denied == 0 ? PortAccess::Allowed : PortAccess::Denied;
    if (denied != 0) {
      device.accessAdvice = std::strerror(denied);
      const std::string advice = PermissionAdvice(device.path, denied);
      if (!advice.empty()) device.accessAdvice += ": " + advice;
    }
    devices.push_back(std::move(device));
  }
  return devices;
}

bool ComMapping(const DeviceTree& tree, const std::vector<std::string>& mappings, std::array<std::string, 4>& devices,
                std::string& error) {
  PortMap map = PortMap::Discover(tree.devRoot, tree.sysRoot);
  if (!map.ApplyArguments(mappings, error)) return false;
  devices = map.devices;
  return true;
}

std::vector<PortTarget> DefaultScanPorts(const DeviceTree& tree) {
  const std::vector<SerialDevice> devices = ListSerialDevices(tree);
  const PortMap map = ComNamesOf(devices);
  std::vector<PortTarget> targets;
  for (std::size_t i = 0; i < map.devices.size(); ++i) {
    PortTarget target;
    target.label = "COM" + std::to_string(i + 1);
    target.path = map.devices[i];
    if (target.path.empty()) {
      target.missing = "no serial device for it on this machine";
    } else {
      Describe(target, devices, tree);
    }
    targets.push_back(std::move(target));
  }
  return targets;
}

bool ResolvePorts(const std::vector<std::string>& arguments, const DeviceTree& tree, std::vector<PortTarget>& targets,
                  std::string& error, Absent absent) {
  const std::vector<SerialDevice> devices = ListSerialDevices(tree);
  const PortMap discovered = ComNamesOf(devices);
  std::vector<PortTarget> resolved;
  for (const std::string& argument : arguments) {
    if (!ResolveArgument(argument, tree, discovered, devices, absent, resolved, error)) return false;
  }
  targets = std::move(resolved);
  return true;
}

void ResolveAgain(const DeviceTree& tree, PortTarget& target) {
  const std::string& argument = target.argument.empty() ? target.label : target.argument;
  const std::vector<SerialDevice> devices = ListSerialDevices(tree);
  const PortMap discovered = ComNamesOf(devices);
  std::vector<PortTarget> found;
  std::string error;
  const bool resolved = ResolveArgument(argument, tree, discovered, devices, Absent::Wait, found, error);
  TakeResolution(target, resolved ? std::move(found) : std::vector<PortTarget>{}, error,
                 [](const std::string& a, const std::string& b) { return a == b; });
}

bool StillNamed(const PortTarget& target) {
  if (target.path.empty()) return false;
  char named[PATH_MAX];
  char opened[PATH_MAX];
  if (!target.follow.empty()) {
    if (::realpath(target.follow.c_str(), named) == nullptr || ::realpath(target.path.c_str(), opened) == nullptr ||
        std::strcmp(named, opened) != 0) {
      return false;
    }
  }
  return target.sysDevice.empty() || UsbSerialIs(target.sysDevice.c_str(), target.usbSerial);
}

}  // namespace tarnwick

#include "posix_image_file.h"
#include "posix_serial_port.h"

namespace tarnwick {

std::unique_ptr<SerialPort> MakeSerialPort() { return std::make_unique<PosixSerialPort>(PortMap{}); }

std::unique_ptr<ImageFile> MakeImageFile() { return std::make_unique<PosixImageFile>(); }

std::string OpenAdvice(const std::string& path, const PortError& error) {
  constexpr const char* kListThem = "\"tarnwick-cli ports\" lists the ports present";
  switch (error.kind) {
    case PortErrorKind::PermissionDenied:
      if (std::string advice = PermissionAdvice(path, static_cast<int>(error.code)); !advice.empty()) return advice;
      return "your user may not open it";
    case PortErrorKind::NotFound:
      return std::string("the device is not there: is the adapter plugged in? ") + kListThem;
    case PortErrorKind::InUse:
      if (error.holderPid != 0) {
        const std::string name =
            error.holderName != nullptr && *error.holderName != '\0' ? error.holderName : "the program";
        return "close " + name + " (pid " + std::to_string(error.holderPid) +
               "), which holds it, or choose another port";
      }
      return "close the program that holds it, or choose another port";
    case PortErrorKind::NotATerminal:
      return std::string("it is no serial port: check the name; ") + kListThem;
    case PortErrorKind::Gone:
      return "the device went away: check the adapter and its cable";
    case PortErrorKind::None:
    case PortErrorKind::Other:
      break;
  }
  return "check that this is the port the device is on (\"tarnwick-cli ports\" lists them)";
}

}  // namespace tarnwick
