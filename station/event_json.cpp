#include "event_json.h"

#include "run_log.h"

namespace tarnwick::station {
namespace {

void PortFields(JsonLine& line, const char* event, const PortTarget* target, double time) {
  line.Clear();
  line.String("event", event);
  line.String("port", target != nullptr ? target->label.c_str() : nullptr);
  line.String("path", target != nullptr && !target->path.empty() ? target->path.c_str() : nullptr);
  line.Number("time", time, 1);
}

}  // namespace

const char* StatusEvent(JsonLine& line, const PortTarget* target, double time, const char* text) {
  PortFields(line, "status", target, time);
  line.String("text", text);
  return line.Finish();
}

const char* ProgressEvent(JsonLine& line, const PortTarget* target, double time, std::uint32_t sent,
                          std::uint32_t total) {
  PortFields(line, "progress", target, time);
  line.Unsigned("sent", sent).Unsigned("total", total);
  line.Unsigned("percent", total == 0 ? 100u : static_cast<std::uint64_t>(sent) * 100u / total);
  return line.Finish();
}

const char* ResultEvent(JsonLine& line, double time, const RunResult& result, const ImageInfo& image) {
  PortFields(line, "result", result.target, time);
  line.String("run", result.id.data());
  line.String("outcome", OutcomeName(result.outcome));
  if (result.deviceStatus.has_value()) {
    line.Unsigned("device_status", *result.deviceStatus);
  } else {
    line.Null("device_status");
  }
  line.Unsigned("sent", result.sent).Unsigned("total", result.total);
  line.Number("seconds", result.seconds, 1);
  ImageFields(line, image);
  return line.Finish();
}

const char* SummaryEvent(JsonLine& line, const PortTarget& target, double time, unsigned programmed, unsigned failed) {
  PortFields(line, "summary", &target, time);
  line.Unsigned("programmed", programmed).Unsigned("failed", failed);
  return line.Finish();
}

const char* CoalescedEvent(JsonLine& line, double time, std::uint64_t events) {
  line.Clear();
  line.String("event", "coalesced");
  line.Number("time", time, 1);
  line.Unsigned("events", events);
  return line.Finish();
}

const char* DeviceEvent(JsonLine& line, const SerialDevice& device) {
  line.Clear();
  line.String("event", "device").String("path", device.path.c_str()).String("name", device.name.c_str());
  if (!device.friendlyName.empty()) line.String("friendly_name", device.friendlyName.c_str());
  line.String("by_id", device.byId.empty() ? nullptr : device.byId.front().c_str());
  line.String("driver", device.driver.empty() ? nullptr : device.driver.c_str());
  line.Bool("usb", device.usb);
  if (device.usb) {
    line.String("vendor_id", device.vendorId.c_str()).String("product_id", device.productId.c_str());
    line.String("manufacturer", device.manufacturer.c_str()).String("product", device.product.c_str());
    line.String("serial", device.serial.c_str());
  }
  // true, false, or null where only opening the port would tell.
  if (device.access == PortAccess::Unknown) {
    line.Null("access");
  } else {
    line.Bool("access", device.access == PortAccess::Allowed);
  }
  if (device.access != PortAccess::Allowed) line.String("access_advice", device.accessAdvice.c_str());
  return line.Finish();
}

}  // namespace tarnwick::station
