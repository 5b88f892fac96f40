// A fake /dev and /sys under one scratch folder, laid out as the kernel lays
// out USB serial adapters, ACM devices and on-board ports.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "temp_dir.h"

namespace tarnwick::testing {

struct UsbAdapter {
  std::string name;  // "ttyUSB0"
  std::string vendorId = "0403", productId = "6001";
  std::string manufacturer = "FTDI", product = "FT232R USB UART", serial = "A1B2C3";
  std::string driver = "ftdi_sio";
  // What /dev/NAME is: empty for a plain file, else a link to this path (a
  // pseudo-terminal of the simulated device, say).
  std::string linkTo;
};

inline UsbAdapter Adapter(const std::string& name, const std::string& serial, const std::string& vendorId = "0403",
                          const std::string& productId = "6001", const std::string& driver = "ftdi_sio") {
  UsbAdapter adapter;
  adapter.name = name;
  adapter.serial = serial;
  adapter.vendorId = vendorId;
  adapter.productId = productId;
  adapter.driver = driver;
  return adapter;
}

class FakeMachine {
 public:
  FakeMachine() {
    std::filesystem::create_directories(dev());
    std::filesystem::create_directories(sys());
  }
  std::string dev() const { return dir_.File("dev"); }
  std::string sys() const { return dir_.File("sys"); }
  std::string Path(const std::string& name) const { return (std::filesystem::path(dev()) / name).string(); }

  // The adapter on its own USB port number `bus`; returns its by-id name.
  std::string AddUsbAdapter(const UsbAdapter& adapter, int bus) {
    namespace fs = std::filesystem;
    const fs::path node = fs::path(dev()) / adapter.name;
    if (adapter.linkTo.empty()) {
      std::ofstream(node) << "";
    } else {
      fs::create_symlink(adapter.linkTo, node);
    }
    const std::string usbName = "1-" + std::to_string(bus);
    const fs::path usbDevice = fs::path(sys()) / "devices" / "pci0000:00" / "usb1" / usbName;
    const fs::path port = usbDevice / (usbName + ":1.0") / adapter.name;
    fs::create_directories(port);
    Write(usbDevice / "idVendor", adapter.vendorId);
    Write(usbDevice / "idProduct", adapter.productId);
    Write(usbDevice / "manufacturer", adapter.manufacturer);
    Write(usbDevice / "product", adapter.product);
    Write(usbDevice / "serial", adapter.serial);
    const fs::path driver = fs::path(sys()) / "bus" / "usb-serial" / "drivers" / adapter.driver;
    fs::create_directories(driver);
    fs::create_directory_symlink(fs::relative(driver, port), port / "driver");
    const fs::path ttyClass = fs::path(sys()) / "class" / "tty" / adapter.name;
    fs::create_directories(ttyClass);
    fs::create_directory_symlink(fs::relative(port, ttyClass), ttyClass / "device");

    const std::string byId = "usb-" + adapter.manufacturer + "_" + adapter.serial + "-if00-port0";
    fs::create_directories(fs::path(dev()) / "serial" / "by-id");
    fs::create_symlink("../../" + adapter.name, fs::path(dev()) / "serial" / "by-id" / byId);
    return byId;
  }

  // An on-board port with a UART (type 4) or an empty slot (type 0).
  void AddOnBoardPort(const std::string& name, int type) {
    namespace fs = std::filesystem;
    std::ofstream(fs::path(dev()) / name) << "";
    const fs::path ttyDir = fs::path(sys()) / "class" / "tty" / name;
    fs::create_directories(ttyDir / "device" / "driver");
    Write(ttyDir / "type", std::to_string(type));
  }

  void AddPlainDevice(const std::string& name) { std::ofstream(std::filesystem::path(dev()) / name) << ""; }

 private:
  static void Write(const std::filesystem::path& file, const std::string& text) { std::ofstream(file) << text << "\n"; }
  TempDir dir_;
};

}  // namespace tarnwick::testing
