// The machine's serial devices on a fake /dev and sysfs, and what the PORT
// arguments stand for there.
#include "serial_devices.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_machine.h"
#include "permission_hint.h"

namespace tarnwick {
namespace {

using testing::Adapter;
using testing::FakeMachine;
using testing::UsbAdapter;

TEST(PortArguments, Kinds) {
  std::string error;
  EXPECT_EQ(ParsePortArgument("COM3", error).kind, PortArgumentKind::ComName);
  EXPECT_EQ(ParsePortArgument("com12", error).comNumber, 12u);
  const PortArgument mapping = ParsePortArgument("COM2=/dev/ttyUSB1", error);
  EXPECT_EQ(mapping.kind, PortArgumentKind::ComMapping);
  EXPECT_EQ(mapping.comNumber, 2u);
  EXPECT_EQ(mapping.path, "/dev/ttyUSB1");
  const PortArgument usb = ParsePortArgument("usb:0403:6001:A1B2", error);
  EXPECT_EQ(usb.kind, PortArgumentKind::UsbId);
  EXPECT_EQ(usb.vendorId, 0x0403u);
  EXPECT_EQ(usb.productId, 0x6001u);
  EXPECT_EQ(usb.serial, "A1B2");
  EXPECT_EQ(ParsePortArgument("usb:10c4:ea60", error).serial, "");
  EXPECT_EQ(ParsePortArgument("/dev/ttyACM0", error).kind, PortArgumentKind::Path);
  EXPECT_EQ(ParsePortArgument("usb-FTDI_A1-if00-port0", error).kind, PortArgumentKind::ById);
  // An '=' in a stable name, a path or a serial number is part of it.
  EXPECT_EQ(ParsePortArgument("usb-FTDI_A1=2C3-if00-port0", error).kind, PortArgumentKind::ById);
  EXPECT_EQ(ParsePortArgument("/dev/serial/by-id/usb-FTDI_A1=2C3-if00-port0", error).kind, PortArgumentKind::Path);
  EXPECT_EQ(ParsePortArgument("usb:0403:6001:A1=2C3", error).serial, "A1=2C3");

  for (const char* bad :
       {"COM0=/dev/x", "COM3=", "com=/dev/x", "usb:0403", "usb:xyz:6001", "usb:12345:1", "usb:0403:6001:", ""}) {
    error.clear();
    EXPECT_EQ(ParsePortArgument(bad, error).kind, PortArgumentKind::Invalid) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(SerialDevices, ListsAdaptersWithTheirUsbAttributesAndStableNames) {
  FakeMachine machine;
  const std::string byId = machine.AddUsbAdapter(Adapter("ttyUSB1", "SECOND"), 2);
  UsbAdapter cp2102 = Adapter("ttyUSB0", "0001", "10c4", "ea60", "cp210x");
  cp2102.manufacturer = "Silicon";
  cp2102.product = "CP2102";
  machine.AddUsbAdapter(cp2102, 1);
  machine.AddUsbAdapter(Adapter("ttyACM0", "75", "2341", "0043", "cdc_acm"), 3);
  machine.AddOnBoardPort("ttyS0", 4);
  machine.AddOnBoardPort("ttyS1", 0);  // no UART behind it
  machine.AddPlainDevice("tty1");

  DeviceTree tree{machine.dev(), machine.sys(), [](const std::string&) { return 0; }};
  const auto devices = ListSerialDevices(tree);
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0].name, "ttyUSB0");
  EXPECT_EQ(devices[1].name, "ttyUSB1");
  EXPECT_EQ(devices[2].name, "ttyACM0");
  EXPECT_EQ(devices[3].name, "ttyS0");

  EXPECT_TRUE(devices[0].usb);
  EXPECT_EQ(devices[0].vendorId, "10c4");
  EXPECT_EQ(devices[0].productId, "ea60");
  EXPECT_EQ(devices[0].manufacturer, "Silicon");
  EXPECT_EQ(devices[0].product, "CP2102");
  EXPECT_EQ(devices[0].serial, "0001");
  EXPECT_EQ(devices[0].driver, "cp210x");
  EXPECT_EQ(devices[1].serial, "SECOND");
  ASSERT_EQ(devices[1].byId.size(), 1u);
  EXPECT_EQ(devices[1].byId[0], machine.Path("serial/by-id/" + byId));
  EXPECT_EQ(devices[2].driver, "cdc_acm");
  EXPECT_FALSE(devices[3].usb);
  EXPECT_TRUE(devices[3].byId.empty());
  for (const auto& device : devices) EXPECT_EQ(device.access, PortAccess::Allowed) << device.name;
}

TEST(SerialDevices, PermissionDeniedNamesTheOwningGroup) {
  FakeMachine machine;
  machine.AddUsbAdapter(Adapter("ttyUSB0", "X0"), 1);
  machine.AddUsbAdapter(Adapter("ttyUSB1", "X1"), 2);
  const std::string denied = machine.Path("ttyUSB1");
  DeviceTree tree{machine.dev(), machine.sys(), [&](const std::string& path) { return path == denied ? EACCES : 0; }};
  const auto devices = ListSerialDevices(tree);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].access, PortAccess::Allowed);
  EXPECT_EQ(devices[1].access, PortAccess::Denied);
  struct stat info {};
  ASSERT_EQ(::stat(denied.c_str(), &info), 0);
  const group* owner = ::getgrgid(info.st_gid);
  ASSERT_NE(owner, nullptr);
  EXPECT_NE(devices[1].accessAdvice.find(std::strerror(EACCES)), std::string::npos) << devices[1].accessAdvice;
  EXPECT_NE(devices[1].accessAdvice.find("group \"" + std::string(owner->gr_name) + "\""), std::string::npos)
      << devices[1].accessAdvice;
  EXPECT_NE(devices[1].accessAdvice.find("usermod -aG " + std::string(owner->gr_name)), std::string::npos);
  // Other errors are not about groups.
  EXPECT_EQ(PermissionAdvice(denied, ENOENT), "");
}

TEST(ResolvePorts, UsbIdsByIdNamesPathsAndComNames) {
  FakeMachine machine;
  const std::string firstById = machine.AddUsbAdapter(Adapter("ttyUSB0", "AAA"), 1);
  machine.AddUsbAdapter(Adapter("ttyUSB1", "BBB"), 2);
  machine.AddUsbAdapter(Adapter("ttyUSB2", "CCC", "10c4", "ea60"), 3);
  const DeviceTree tree{machine.dev(), machine.sys(), {}};
  const auto canonical = [](const std::string& path) { return std::filesystem::canonical(path).string(); };

  std::vector<PortTarget> targets;
  std::string error;
  // Every adapter with the IDs, in the machine's order; upper-case hex is the same.
  ASSERT_TRUE(ResolvePorts({"usb:0403:6001"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].path, machine.Path("ttyUSB0"));
  EXPECT_EQ(targets[0].usbSerial, "AAA");
  EXPECT_EQ(targets[0].byId, machine.Path("serial/by-id/" + firstById));
  EXPECT_EQ(targets[1].path, machine.Path("ttyUSB1"));
  EXPECT_EQ(targets[1].label, "usb:0403:6001");

  ASSERT_TRUE(ResolvePorts({"usb:10C4:EA60", "usb:0403:6001:BBB"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].path, machine.Path("ttyUSB2"));
  EXPECT_EQ(targets[1].path, machine.Path("ttyUSB1"));

  // No adapter with the IDs: a port with nothing behind it, and why.
  ASSERT_TRUE(ResolvePorts({"usb:0403:6001:ZZZ"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 1u);
  EXPECT_TRUE(targets[0].path.empty());
  EXPECT_FALSE(targets[0].missing.empty());

  // A by-id name alone or as a path stands for its device.
  ASSERT_TRUE(ResolvePorts({firstById, machine.Path("serial/by-id/" + firstById)}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].path, canonical(machine.Path("ttyUSB0")));
  EXPECT_EQ(targets[0].label, firstById);
  EXPECT_EQ(targets[1].path, canonical(machine.Path("ttyUSB0")));
  EXPECT_EQ(targets[1].usbSerial, "AAA");

  // COMn as the dialog maps it; COMn=PATH as given.
  ASSERT_TRUE(ResolvePorts({"COM2", "COM4=/dev/null"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].label, "COM2");
  EXPECT_EQ(targets[0].path, machine.Path("ttyUSB1"));
  EXPECT_EQ(targets[1].label, "COM4");
  EXPECT_EQ(targets[1].path, "/dev/null");

  for (const char* bad : {"COM5", "no-such-by-id-name", "COM9=/dev/x", "usb:1"}) {
    error.clear();
    EXPECT_FALSE(ResolvePorts({bad}, tree, targets, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

// Resolved again, a name stands for what it names at that moment: a link
// re-pointed, an adapter pulled, one of several adapters with the same IDs.
TEST(ResolvePorts, AgainAsTheMachineStandsNow) {
  namespace fs = std::filesystem;
  FakeMachine machine;
  const std::string byIdA = machine.AddUsbAdapter(Adapter("ttyUSB0", "AAA"), 1);
  machine.AddUsbAdapter(Adapter("ttyUSB1", "BBB"), 2);
  const DeviceTree tree{machine.dev(), machine.sys(), {}};
  const std::string link = machine.Path("serial/by-id/" + byIdA);
  std::vector<PortTarget> targets;
  std::string error;
  ASSERT_TRUE(ResolvePorts({byIdA, "usb:0403:6001"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_EQ(targets[0].byId, link);
  // Of several adapters with the IDs, each port keeps its own, by its serial number.
  EXPECT_EQ(targets[1].argument, "usb:0403:6001:AAA");
  EXPECT_EQ(targets[2].argument, "usb:0403:6001:BBB");
  for (const PortTarget& target : targets) EXPECT_TRUE(StillNamed(target)) << target.argument;

  // The stable name now leads to the other adapter, and the first one is pulled.
  fs::remove(link);
  fs::create_symlink("../../ttyUSB1", link);
  fs::remove(machine.Path("ttyUSB0"));
  EXPECT_FALSE(StillNamed(targets[0]));
  EXPECT_FALSE(StillNamed(targets[1]));
  EXPECT_TRUE(StillNamed(targets[2]));
  // Another adapter on the same node is not the one found.
  const fs::path serialFile =
      fs::canonical(machine.sys() + "/class/tty/ttyUSB1/device").parent_path().parent_path() / "serial";
  std::ofstream(serialFile) << "CCC\n";
  EXPECT_FALSE(StillNamed(targets[2]));
  std::ofstream(serialFile) << "BBB\n";
  for (PortTarget& target : targets) ResolveAgain(tree, target);
  EXPECT_EQ(targets[0].path, fs::canonical(machine.Path("ttyUSB1")).string());
  EXPECT_EQ(targets[0].usbSerial, "BBB");
  EXPECT_EQ(targets[0].byId, link);
  EXPECT_EQ(targets[0].label, byIdA);
  EXPECT_TRUE(targets[1].path.empty());
  EXPECT_TRUE(targets[1].usbSerial.empty());
  EXPECT_FALSE(targets[1].missing.empty());
  EXPECT_EQ(targets[1].label, "usb:0403:6001");
  EXPECT_EQ(targets[2].path, machine.Path("ttyUSB1"));

  // The stable name gone: nothing, and where it was looked for.
  fs::remove(link);
  ResolveAgain(tree, targets[0]);
  EXPECT_TRUE(targets[0].path.empty());
  EXPECT_TRUE(targets[0].byId.empty());
  EXPECT_NE(targets[0].missing.find(link), std::string::npos) << targets[0].missing;

  // Names that stand for nothing at the start: errors, or ports that wait.
  EXPECT_FALSE(ResolvePorts({byIdA}, tree, targets, error));
  const std::string gone = machine.Path("ttyUSB0");
  ASSERT_TRUE(ResolvePorts({byIdA, gone, "COM2=" + gone, "usb:0403:6001:AAA"}, tree, targets, error, Absent::Wait))
      << error;
  ASSERT_EQ(targets.size(), 4u);
  for (const PortTarget& target : targets) {
    EXPECT_TRUE(target.path.empty()) << target.label;
    EXPECT_FALSE(target.missing.empty()) << target.label;
  }
  EXPECT_EQ(targets[2].label, "COM2");
  EXPECT_EQ(targets[2].argument, "COM2=" + gone);
}

TEST(ResolvePorts, DefaultScanIsTheDialogsFourNames) {
  FakeMachine machine;
  machine.AddUsbAdapter(Adapter("ttyUSB0", "X0"), 1);
  const auto targets = DefaultScanPorts({machine.dev(), machine.sys(), {}});
  ASSERT_EQ(targets.size(), 4u);
  EXPECT_EQ(targets[0].label, "COM1");
  EXPECT_EQ(targets[0].path, machine.Path("ttyUSB0"));
  EXPECT_EQ(targets[3].label, "COM4");
  EXPECT_TRUE(targets[1].path.empty());
  EXPECT_FALSE(targets[1].missing.empty());
}

}  // namespace
}  // namespace tarnwick
