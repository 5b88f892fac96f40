#include "serial_devices.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

namespace tarnwick {
namespace {

bool ParseNumber(std::string_view digits, unsigned base, unsigned& value) {
  if (digits.empty()) return false;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, static_cast<int>(base));
  return error == std::errc() && end == digits.data() + digits.size();
}

// "COM" and digits, or "COM" alone: what stands before the '=' of a COMn=PATH.
bool LooksLikeComName(std::string_view text) {
  if (text.size() < 3) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if ((text[i] & ~0x20) != "COM"[i]) return false;
  }
  return text.substr(3).find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

unsigned ComNumber(std::string_view text) {
  if (text.size() < 4) return 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if ((text[i] & ~0x20) != "COM"[i]) return 0;
  }
  unsigned number = 0;
  return ParseNumber(text.substr(3), 10, number) && number >= 1 && text[3] != '0' ? number : 0;
}

std::string Printable(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return shown;
}

std::string BadPortMapping(std::string_view argument, unsigned highest) {
  return "bad port mapping \"" + Printable(argument) + "\": expected COMn=DEVICE with n from 1 to " +
         std::to_string(highest);
}

PortArgument ParsePortArgument(const std::string& text, std::string& error) {
  PortArgument parsed;
  parsed.text = text;
  const std::string_view view(text);
  // An '=' after anything but COMn is part of a name: stable names and USB
  // serial numbers may hold one.
  const std::size_t equals = view.find('=');
  if (equals != std::string_view::npos && LooksLikeComName(view.substr(0, equals))) {
    parsed.comNumber = ComNumber(view.substr(0, equals));
    if (parsed.comNumber != 0 && equals + 1 < view.size()) {
      parsed.kind = PortArgumentKind::ComMapping;
      parsed.path = text.substr(equals + 1);
      return parsed;
    }
    error = "\"" + Printable(text) + "\" is not a port mapping: expected COMn=PATH";
    return parsed;
  }
  parsed.comNumber = ComNumber(view);
  if (parsed.comNumber != 0) {
    parsed.kind = PortArgumentKind::ComName;
    return parsed;
  }
  if (view.starts_with("usb:")) {
    // usb:VID:PID or usb:VID:PID:SERIAL, the IDs in hex as lsusb shows them.
    const std::string_view rest = view.substr(4);
    const std::size_t first = rest.find(':');
    const std::size_t second = first == std::string_view::npos ? first : rest.find(':', first + 1);
    const std::string_view vendor = rest.substr(0, first);
    const std::string_view product =
        first == std::string_view::npos ? std::string_view() : rest.substr(first + 1, second - first - 1);
    if (vendor.size() <= 4 && product.size() <= 4 && ParseNumber(vendor, 16, parsed.vendorId) &&
        ParseNumber(product, 16, parsed.productId) &&
        (second == std::string_view::npos || second + 1 < rest.size())) {
      parsed.kind = PortArgumentKind::UsbId;
      if (second != std::string_view::npos) parsed.serial = std::string(rest.substr(second + 1));
      return parsed;
    }
    error = "\"" + Printable(text) + "\" is not a USB adapter: expected usb:VID:PID or usb:VID:PID:SERIAL (IDs in hex)";
    return parsed;
  }
  if (view.find('/') != std::string_view::npos || view.find('\\') != std::string_view::npos) {
    parsed.kind = PortArgumentKind::Path;
    parsed.path = text;
    return parsed;
  }
  if (!view.empty()) {
    parsed.kind = PortArgumentKind::ById;
    parsed.path = text;
    return parsed;
  }
  error = "an empty port name";
  return parsed;
}

void TakeResolution(PortTarget& target, std::vector<PortTarget> found, const std::string& error,
                    bool (*samePath)(const std::string&, const std::string&)) {
  if (found.empty()) {
    found.assign(1, PortTarget{});
    found.front().missing = error.empty() ? "it names no port" : error;
  }
  const auto same = std::find_if(found.begin(), found.end(), [&](const PortTarget& each) {
    return !each.path.empty() && samePath(each.path, target.path);
  });
  const PortTarget& now = same != found.end() ? *same : found.front();
  target.path = now.path;
  target.byId = now.byId;
  target.usbSerial = now.usbSerial;
  target.missing = now.missing;
  target.follow = now.follow;
  target.sysDevice = now.sysDevice;
}

}  // namespace tarnwick
