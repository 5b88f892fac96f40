#include "port_map.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "serial_devices.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

// The number after `prefix` in a device name such as "ttyUSB12", if the rest
// of the name is nothing but decimal digits.
std::optional<unsigned> NumberAfter(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix) || name.size() == prefix.size()) return std::nullopt;
  const std::string_view digits = name.substr(prefix.size());
  unsigned number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return number;
}

// "COMn" with n from 1 to 4 gives index n - 1.
std::optional<std::size_t> PortIndex(std::string_view portName) {
  const unsigned number = ComNumber(portName);
  if (number < 1 || number > kPortNameCount) return std::nullopt;
  return number - 1;
}

}  // namespace

std::vector<std::string> NumberedDevices(const std::string& devRoot, std::string_view prefix) {
  std::vector<std::pair<unsigned, std::string>> found;
  std::error_code error;
  for (fs::directory_iterator entry(devRoot, error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (const auto number = NumberAfter(name, prefix)) found.emplace_back(*number, name);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& [number, name] : found) names.push_back(std::move(name));
  return names;
}

bool HasUart(const std::string& sysRoot, const std::string& name) {
  const fs::path ttyDir = fs::path(sysRoot) / "class" / "tty" / name;
  std::error_code error;
  if (!fs::exists(ttyDir / "device" / "driver", error)) return false;
  std::ifstream typeFile(ttyDir / "type");
  int type = 0;
  if (!(typeFile >> type)) return false;
  return type != 0;
}

PortMap PortMap::Discover(const std::string& devRoot, const std::string& sysRoot) {
  std::vector<std::string> ports = NumberedDevices(devRoot, "ttyUSB");
  for (auto& name : NumberedDevices(devRoot, "ttyACM")) ports.push_back(std::move(name));
  for (auto& name : NumberedDevices(devRoot, "ttyS")) {
    if (HasUart(sysRoot, name)) ports.push_back(std::move(name));
  }

  PortMap map;
  for (std::size_t i = 0; i < map.devices.size() && i < ports.size(); ++i) {
    map.devices[i] = (fs::path(devRoot) / ports[i]).string();
  }
  return map;
}

bool PortMap::ApplyArguments(const std::vector<std::string>& arguments, std::string& error) {
  // Checked in full before any entry changes, so a bad argument changes nothing.
  auto updated = devices;
  for (const std::string& argument : arguments) {
    std::string ignored;
    const PortArgument parsed = ParsePortArgument(argument, ignored);
    if (parsed.kind != PortArgumentKind::ComMapping || parsed.comNumber > kPortNameCount) {
      error = BadPortMapping(argument, kPortNameCount);
      return false;
    }
    updated[parsed.comNumber - 1] = parsed.path;
  }
  devices = std::move(updated);
  return true;
}

const std::string& PortMap::DeviceFor(const char* portName) const {
  static const std::string none;
  if (portName == nullptr) return none;
  const auto index = PortIndex(portName);
  return index ? devices[*index] : none;
}

}  // namespace tarnwick
