// USB serial adapters named by usb:VID:PID[:SERIAL], and the device IDs
// Windows gives them, read the same on every platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial_devices.h"
#include "usb_match.h"

namespace tarnwick {
namespace {

struct IdCase {
  const char* id;
  const char* vendorId;
  const char* productId;
  const char* serial;
};

TEST(UsbDeviceIdTest, ReadsVendorProductAndOnlyARealSerialNumber) {
  const IdCase cases[] = {
      // FTDI: the USB device, and the COM port its bus driver makes (the
      // serial number with the chip port's letter after it).
      {"USB\\VID_0403&PID_6001\\A50285BI", "0403", "6001", "A50285BI"},
      {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403", "6001", "A50285BI"},
      {"FTDIBUS\\VID_0403+PID_6010+FT4ZQ1CEB\\0000", "0403", "6010", "FT4ZQ1CE"},
      {"FTDIBUS\\COMPORT&VID_0403&PID_6001", "0403", "6001", ""},
      // CH340 has no serial number: Windows makes up the instance part.
      {"USB\\VID_1A86&PID_7523\\5&2E1A3B2&0&2", "1A86", "7523", ""},
      {"USB\\VID_1A86&PID_7523&REV_0264", "1A86", "7523", ""},
      {"USB\\VID_10C4&PID_EA60\\0001", "10C4", "EA60", "0001"},
      // One interface of a composite CDC ACM device: its serial number is its parent's.
      {"USB\\VID_2341&PID_0043&MI_00\\6&3A757EEC&0&0000", "2341", "0043", ""},
      {"USB\\VID_2341&PID_0043\\85736323838351F0E1F0", "2341", "0043", "85736323838351F0E1F0"},
      {"usb\\vid_067b&pid_2303\\5&1a2b3c4d&0&1", "067b", "2303", ""},
  };
  for (const IdCase& each : cases) {
    UsbDeviceId read;
    ASSERT_TRUE(ReadUsbDeviceId(each.id, read)) << each.id;
    EXPECT_EQ(read.vendorId, each.vendorId) << each.id;
    EXPECT_EQ(read.productId, each.productId) << each.id;
    EXPECT_EQ(read.serial, each.serial) << each.id;
  }
  for (const char* none :
       {"ACPI\\PNP0501\\1", "ROOT\\PORTS\\0000", "",  "USB\\ROOT_HUB30\\4&1C2E8C1&0&0",
        "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_VID&0001005D_PID&223B\\7&1D3B1A5&0&000000000000_00000000",
        "USB\\VID_403&PID_6001\\A1", "USB\\PID_6001&VID_0403\\A1", "VID_0403&PID_6001"}) {
    UsbDeviceId read;
    EXPECT_FALSE(ReadUsbDeviceId(none, read)) << none;
    EXPECT_TRUE(read.vendorId.empty() && read.productId.empty() && read.serial.empty()) << none;
  }
}

SerialDevice Adapter(const char* name, const char* vendorId, const char* productId, const char* serial) {
  SerialDevice device;
  device.name = name;
  device.path = std::string("/dev/") + name;
  device.usb = true;
  device.vendorId = vendorId;
  device.productId = productId;
  device.serial = serial;
  return device;
}

std::vector<std::string> Matched(const char* argument, const std::vector<SerialDevice>& devices) {
  std::string error;
  const PortArgument parsed = ParsePortArgument(argument, error);
  std::vector<std::string> names;
  for (const SerialDevice* device : MatchUsb(parsed, devices)) names.push_back(device->name);
  return names;
}

TEST(MatchUsbTest, PicksEveryAdapterWithTheIdsAndTheSerialNumberInAnyLetterCase) {
  SerialDevice onBoard;
  onBoard.name = "ttyS0";
  onBoard.vendorId = "0403";  // no USB adapter, whatever it says
  onBoard.productId = "6001";
  const std::vector<SerialDevice> devices = {
      onBoard,
      Adapter("ttyUSB0", "0403", "6001", "A50285BI"),
      Adapter("ttyUSB1", "1a86", "7523", ""),
      Adapter("ttyUSB2", "0403", "6001", "B7"),
      Adapter("ttyUSB3", "0403", "6010", "A50285BI"),
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(Matched("usb:0403:6001", devices), (Names{"ttyUSB0", "ttyUSB2"}));
  EXPECT_EQ(Matched("usb:403:6001:a50285bi", devices), Names{"ttyUSB0"});
  EXPECT_EQ(Matched("usb:1A86:7523", devices), Names{"ttyUSB1"});
  EXPECT_EQ(Matched("usb:1a86:7523:0001", devices), Names{});
  EXPECT_EQ(Matched("usb:0403:6015", devices), Names{});
  EXPECT_EQ(Matched("COM1", devices), Names{});

  EXPECT_EQ(UsbArgument(devices[1]), "usb:0403:6001:A50285BI");
  EXPECT_EQ(UsbArgument(devices[2]), "");
  EXPECT_EQ(UsbArgument(onBoard), "");
}

}  // namespace
}  // namespace tarnwick
