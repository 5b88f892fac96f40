// USB serial adapters named by usb:VID:PID[:SERIAL], and the device IDs
// Windows gives them, read the same on every platform.
#include "usb_match.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial_devices.h"

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
       {"ACPI\\PNP0501\\1", "ROOT\\PORTS\\0000", "", "USB\\ROOT_HUB30\\4&1C2E8C1&0&0",
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

// What SetupAPI says of a COM port, made into the device "ports" lists: the
// name Windows shows, the USB adapter behind it (its serial number from the
// USB device above a bus driver's port or a composite device's interface,
// never from an unrelated parent such as a hub), and access left unknown.
TEST(DescribeComPortTest, NamesTheAdapterBehindEachPortAndLeavesAccessUnknown) {
  struct Case {
    ComPortProperties port;
    bool usb;
    const char* vendorId;
    const char* productId;
    const char* serial;
    const char* product;
  };
  const Case cases[] = {
      {{"COM5", "USB Serial Port (COM5)", "FTDIBUS", "FTDI", "FT232R USB UART",
        "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "FTDIBUS\\COMPORT&VID_0403&PID_6001",
        "USB\\VID_0403&PID_6001\\A50285BI"},
       true,
       "0403",
       "6001",
       "A50285BI",
       "FT232R USB UART"},
      {{"COM7", "USB Serial Device (COM7)", "usbser", "Microsoft", "",
        "USB\\VID_2341&PID_0043&MI_00\\6&3A757EEC&0&0000", "USB\\VID_2341&PID_0043&REV_0001&MI_00",
        "USB\\VID_2341&PID_0043\\85736323838351F0E1F0"},
       true,
       "2341",
       "0043",
       "85736323838351F0E1F0",
       "USB Serial Device"},
      {{"COM8", "USB-SERIAL CH340 (COM8)", "CH341SER_A64", "wch.cn", "USB Serial",
        "USB\\VID_1A86&PID_7523\\5&2E1A3B2&0&2", "USB\\VID_1A86&PID_7523&REV_0264", "USB\\ROOT_HUB30\\4&1C2E8C1&0&0"},
       true,
       "1a86",
       "7523",
       "",
       "USB Serial"},
      {{"COM9", "USB Serial Device (COM9)", "usbser", "Microsoft", "", "USB\\VID_2341&PID_0043&MI_00\\6&1F2E3D&0&0000",
        "USB\\VID_2341&PID_0043&MI_00", "USB\\VID_05E3&PID_0610\\00000A1"},
       true,
       "2341",
       "0043",
       "",
       "USB Serial Device"},
      {{"COM10", "Multiport Serial (COM10)", "vbusser", "", "", "VBUS\\COMPORT\\7&1B2C3D&0&0001", "VBUS\\COMPORT",
        "USB\\VID_04E2&PID_1410\\0001"},
       true,
       "04e2",
       "1410",
       "0001",
       "Multiport Serial"},
      {{"COM1", "Communications Port (COM1)", "Serial", "(Standard port types)", "", "ACPI\\PNP0501\\1",
        "ACPI\\PNP0501", "ACPI\\PNP0A08\\0"},
       false,
       "",
       "",
       "",
       "Communications Port"},
      // Known only from the registry's list of serial ports.
      {{"COM3", "", "\\Device\\Serial2", "", "", "", "", ""}, false, "", "", "", ""},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.port.portName);
    const SerialDevice device = DescribeComPort(each.port);
    EXPECT_EQ(device.name, each.port.portName);
    EXPECT_EQ(device.path, "\\\\.\\" + each.port.portName);
    EXPECT_EQ(device.friendlyName, each.port.friendlyName);
    EXPECT_EQ(device.driver, each.port.service);
    EXPECT_EQ(device.usb, each.usb);
    EXPECT_EQ(device.vendorId, each.vendorId);
    EXPECT_EQ(device.productId, each.productId);
    EXPECT_EQ(device.serial, each.serial);
    EXPECT_EQ(device.manufacturer, each.port.manufacturer);
    EXPECT_EQ(device.product, each.product);
    EXPECT_EQ(device.access, PortAccess::Unknown);
    EXPECT_NE(device.accessAdvice.find("another program may hold it"), std::string::npos) << device.accessAdvice;
  }
}

}  // namespace
}  // namespace tarnwick
