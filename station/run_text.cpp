#include "run_text.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace tarnwick::station {

const char* IconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return "information";
    case MessageIcon::Exclamation:
      return "exclamation";
    case MessageIcon::Stop:
      return "stop";
  }
  return "message";
}

std::size_t ResultSentence(const RunResult& result, char* buffer, std::size_t size) {
  const PortTarget* target = result.target;
  char where[320];
  if (target == nullptr) {
    std::snprintf(where, sizeof where, "all ports tried");
  } else if (!target->path.empty() && target->path != target->label) {
    std::snprintf(where, sizeof where, "%s (%s)", target->label.c_str(), target->path.c_str());
  } else {
    std::snprintf(where, sizeof where, "%s", target->label.c_str());
  }
  char what[160];
  switch (result.outcome) {
    case RunOutcome::Success:
      std::snprintf(what, sizeof what, "success, %u of %u bytes", result.sent, result.total);
      break;
    case RunOutcome::Failure:
      std::snprintf(what, sizeof what, "failure, the device reported status %u after %u of %u bytes",
                    result.deviceStatus.value_or(0), result.sent, result.total);
      break;
    case RunOutcome::NoDevice:
      std::snprintf(what, sizeof what, "no device answered");
      break;
    case RunOutcome::Stalled:
      std::snprintf(what, sizeof what, "stalled, the run stopped moving on after %u of %u bytes", result.sent,
                    result.total);
      break;
    case RunOutcome::PortLost:
      std::snprintf(what, sizeof what, "port lost after %u of %u bytes", result.sent, result.total);
      break;
    case RunOutcome::Interrupted:
    case RunOutcome::None:
      std::snprintf(what, sizeof what, "interrupted after %u of %u bytes", result.sent, result.total);
      break;
  }
  const int length = std::snprintf(buffer, size, "%s: %s in %.1f s\n", where, what, result.seconds);
  if (length <= 0) return 0;
  return std::min(static_cast<std::size_t>(length), size - 1);
}

std::vector<std::string> TriedPortSentences(const Lane& lane, double silentSeconds) {
  std::vector<std::string> lines;
  char text[4096 + 1024];
  for (const TriedPort& tried : lane.TriedPorts()) {
    const PortTarget& target = *tried.target;
    std::string name = target.label;
    if (!target.path.empty() && target.path != target.label) name += " (" + target.path + ")";
    if (tried.open == nullptr) {
      std::snprintf(text, sizeof text, "%s: %s", name.c_str(), target.missing.c_str());
    } else if (!tried.open->tried) {
      std::snprintf(text, sizeof text, "%s: not tried", name.c_str());
    } else if (!tried.open->opened) {
      // The port's own words name its path, which the line names already.
      std::string_view reason = tried.open->error.data();
      if (const std::string prefix = target.path + ": "; reason.starts_with(prefix))
        reason.remove_prefix(prefix.size());
      std::snprintf(text, sizeof text, "%s: could not open it: %.*s; %s", name.c_str(), static_cast<int>(reason.size()),
                    reason.data(), OpenAdvice(target.path, tried.open->kind).c_str());
    } else {
      std::snprintf(text, sizeof text,
                    "%s: opened, but no device answered in %.0f s: check that the device has power, that the "
                    "cable is plugged in at both ends, that the device is waiting for a host (reset it), or try "
                    "another port",
                    name.c_str(), silentSeconds);
    }
    lines.emplace_back(text);
  }
  return lines;
}

std::string DeviceDescription(const SerialDevice& device) {
  std::string text = device.path;
  if (!device.driver.empty()) text += "  driver " + device.driver;
  if (device.usb) {
    text += "  usb:" + device.vendorId + ":" + device.productId;
    if (!device.serial.empty()) text += ":" + device.serial;
  }
  text += "\n";
  if (!device.friendlyName.empty()) text += "    " + device.friendlyName + "\n";
  if (device.usb && (!device.manufacturer.empty() || !device.product.empty())) {
    text += "    " + device.manufacturer + (device.manufacturer.empty() ? "" : " ") + device.product + "\n";
  }
  for (const std::string& name : device.byId) text += "    " + name + "\n";
  switch (device.access) {
    case PortAccess::Allowed:
      text += "    you may open it\n";
      break;
    case PortAccess::Denied:
      text += "    cannot open it: " + device.accessAdvice + "\n";
      break;
    case PortAccess::Unknown:
      text += "    whether you may open it: unknown";
      if (!device.accessAdvice.empty()) text += " (" + device.accessAdvice + ")";
      text += "\n";
      break;
  }
  return text;
}

}  // namespace tarnwick::station
