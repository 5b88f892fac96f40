// What sysfs and the USB descriptors say about an adapter, from the input:
// its manufacturer, product, serial number, IDs and driver, and the stable
// name under /dev/serial/by-id. These strings come from the device, not the
// user, and reach `ports --json` and the run log. The input is cut at its
// zero bytes into those strings, in that order.
// Checked: each attribute is read as its first line, without the line end;
// the device's `ports --json` line and its run record are valid JSON that
// carry every string whole.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_machine.h"
#include "event_json.h"
#include "run_record.h"
#include "serial_devices.h"

namespace {

namespace fs = std::filesystem;
using tarnwick::fuzz::Check;
using tarnwick::fuzz::CheckCarried;

std::vector<std::string> Pieces(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> pieces(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(static_cast<char>(data[i]));
    }
  }
  pieces.resize(7);
  return pieces;
}

// A piece that can stand in a file name: no '/', at most 80 bytes, neither
// empty nor a dot or two.
std::string NamePart(std::string text, const char* otherwise) {
  for (char& c : text) {
    if (c == '/') c = '_';
  }
  if (text.size() > 80) text.resize(80);
  return text.empty() || text == "." || text == ".." ? otherwise : text;
}

// What a sysfs attribute reads as: its first line, without the line end and
// trailing spaces.
std::string FirstLine(const std::string& content) {
  std::string line = content.substr(0, content.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

void WriteRaw(const fs::path& file, const std::string& content) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

// The device as `ports --json` lists it.
nlohmann::json PortsLine(const tarnwick::SerialDevice& device) {
  tarnwick::station::JsonLine line;
  const nlohmann::json parsed =
      nlohmann::json::parse(tarnwick::station::DeviceEvent(line, device), nullptr, /*allow_exceptions=*/false);
  Check(!parsed.is_discarded() && parsed.is_object(), "a device line is not a JSON object");
  return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool inMemory = tarnwick::fuzz::ScratchInMemory();
  static tarnwick::fuzz::RecordFile records;
  const std::vector<std::string> pieces = Pieces(data, size);
  const std::string& manufacturer = pieces[0];
  const std::string& product = pieces[1];
  const std::string& serial = pieces[2];
  const std::string& vendorId = pieces[3];
  const std::string& productId = pieces[4];

  tarnwick::testing::FakeMachine machine;
  tarnwick::testing::UsbAdapter adapter = tarnwick::testing::Adapter(
      "ttyUSB0", NamePart(serial + pieces[6], "S"), "0403", "6001", NamePart(pieces[5], "ftdi_sio"));
  adapter.manufacturer = NamePart(manufacturer, "M");
  const std::string byIdName = machine.AddUsbAdapter(adapter, 1);
  const fs::path usbDevice = fs::path(machine.sys()) / "devices" / "pci0000:00" / "usb1" / "1-1";
  WriteRaw(usbDevice / "manufacturer", manufacturer);
  WriteRaw(usbDevice / "product", product);
  WriteRaw(usbDevice / "serial", serial);
  WriteRaw(usbDevice / "idVendor", vendorId);
  WriteRaw(usbDevice / "idProduct", productId);

  tarnwick::DeviceTree tree{machine.dev(), machine.sys(), [](const std::string&) { return 0; }};
  std::vector<tarnwick::SerialDevice> devices;
  std::vector<tarnwick::PortTarget> targets;
  std::string error;
  const std::string byIdPath = machine.Path("serial/by-id/" + byIdName);
  try {
    devices = tarnwick::ListSerialDevices(tree);
    Check(tarnwick::ResolvePorts({byIdPath}, tree, targets, error), "the stable name's path was refused");
  } catch (const std::exception&) {
    tarnwick::fuzz::Fail("reading the devices threw");
  }
  Check(devices.size() == 1 && devices[0].usb, "the adapter was not found");
  const auto& device = devices[0];
  Check(device.manufacturer == FirstLine(manufacturer) && device.product == FirstLine(product) &&
            device.serial == FirstLine(serial) && device.vendorId == FirstLine(vendorId) &&
            device.productId == FirstLine(productId),
        "an attribute was not read as its first line");
  Check(device.driver == adapter.driver, "the driver's name is not its folder's");
  Check(device.byId.size() == 1 && device.byId[0] == byIdPath, "the stable name is not the link's path");

  nlohmann::json line = PortsLine(device);
  CheckCarried(line, "by_id", &device.byId[0], "ports --json: by_id");
  CheckCarried(line, "driver", &device.driver, "ports --json: driver");
  CheckCarried(line, "manufacturer", &device.manufacturer, "ports --json: manufacturer");
  CheckCarried(line, "product", &device.product, "ports --json: product");
  CheckCarried(line, "serial", &device.serial, "ports --json: serial");
  CheckCarried(line, "vendor_id", &device.vendorId, "ports --json: vendor_id");
  CheckCarried(line, "product_id", &device.productId, "ports --json: product_id");

  Check(targets.size() == 1 && targets[0].byId == byIdPath && targets[0].usbSerial == device.serial,
        "the port named by its stable name is not the adapter");
  tarnwick::fuzz::CheckRecordOf(records, targets[0]);
  return 0;
}
