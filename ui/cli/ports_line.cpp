#include "ports_line.h"

namespace tarnwick::cli {

void DeviceFields(station::JsonLine& line, const SerialDevice& device) {
  line.String("event", "device").String("path", device.path.c_str()).String("name", device.name.c_str());
  line.String("by_id", device.byId.empty() ? nullptr : device.byId.front().c_str());
  line.String("driver", device.driver.empty() ? nullptr : device.driver.c_str());
  line.Bool("usb", device.usb);
  if (device.usb) {
    line.String("vendor_id", device.vendorId.c_str()).String("product_id", device.productId.c_str());
    line.String("manufacturer", device.manufacturer.c_str()).String("product", device.product.c_str());
    line.String("serial", device.serial.c_str());
  }
  line.Bool("access", device.accessible);
  if (!device.accessible) line.String("access_advice", device.accessAdvice.c_str());
}

}  // namespace tarnwick::cli
