// Finding the machine's serial ports and mapping COM1..COM4 to them.
#include "port_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

// A fake /dev and /sys under one scratch folder.
class FakeMachine {
 public:
  FakeMachine() {
    fs::create_directories(dev());
    fs::create_directories(sys());
  }
  std::string dev() const { return dir_.File("dev"); }
  std::string sys() const { return dir_.File("sys"); }

  void AddDevice(const std::string& name) { std::ofstream(fs::path(dev()) / name) << ""; }
  // An on-board port as sysfs describes it: a bound driver and a port type.
  void AddOnBoardPort(const std::string& name, const char* type, bool driverBound = true) {
    AddDevice(name);
    const fs::path ttyDir = fs::path(sys()) / "class" / "tty" / name;
    fs::create_directories(ttyDir / "device");
    if (driverBound) fs::create_directories(ttyDir / "device" / "driver");
    std::ofstream(ttyDir / "type") << type;
  }
  std::string Path(const std::string& name) const { return (fs::path(dev()) / name).string(); }

 private:
  testing::TempDir dir_;
};

TEST(PortMapDiscover, UsbAdaptersByNumberThenAcmThenOnBoardUarts) {
  FakeMachine machine;
  machine.AddDevice("ttyUSB10");
  machine.AddDevice("ttyUSB2");
  machine.AddDevice("ttyACM0");
  machine.AddOnBoardPort("ttyS1", "4\n");
  machine.AddOnBoardPort("ttyS0", "0\n");  // a slot with no UART
  // Not serial ports, or not ones we number.
  machine.AddDevice("tty");
  machine.AddDevice("tty1");
  machine.AddDevice("ttyUSB");
  machine.AddDevice("ttyUSBx");
  machine.AddDevice("console");

  const PortMap map = PortMap::Discover(machine.dev(), machine.sys());
  EXPECT_EQ(map.devices[0], machine.Path("ttyUSB2"));
  EXPECT_EQ(map.devices[1], machine.Path("ttyUSB10"));
  EXPECT_EQ(map.devices[2], machine.Path("ttyACM0"));
  EXPECT_EQ(map.devices[3], machine.Path("ttyS1"));
}

TEST(PortMapDiscover, TakesTheFirstFourAndLeavesMissingOnesEmpty) {
  FakeMachine machine;
  for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyACM0", "ttyACM1"}) machine.AddDevice(name);
  PortMap map = PortMap::Discover(machine.dev(), machine.sys());
  EXPECT_EQ(map.devices[3], machine.Path("ttyACM0"));

  FakeMachine small;
  small.AddOnBoardPort("ttyS0", "4");
  map = PortMap::Discover(small.dev(), small.sys());
  EXPECT_EQ(map.devices[0], small.Path("ttyS0"));
  EXPECT_EQ(map.devices[1], "");
  EXPECT_EQ(map.DeviceFor("COM2"), "");

  map = PortMap::Discover(small.dev() + "/missing", small.sys());
  EXPECT_EQ(map.devices, (std::array<std::string, 4>{}));
}

TEST(PortMapDiscover, OnBoardPortNeedsABoundDriverAndAKnownPortType) {
  FakeMachine machine;
  machine.AddOnBoardPort("ttyS0", "4\n");
  machine.AddOnBoardPort("ttyS1", "0\n");
  machine.AddOnBoardPort("ttyS2", "4\n", /*driverBound=*/false);
  machine.AddOnBoardPort("ttyS3", "garbage");
  machine.AddDevice("ttyS4");  // nothing in sysfs at all
  EXPECT_TRUE(HasUart(machine.sys(), "ttyS0"));
  EXPECT_FALSE(HasUart(machine.sys(), "ttyS1"));
  EXPECT_FALSE(HasUart(machine.sys(), "ttyS2"));
  EXPECT_FALSE(HasUart(machine.sys(), "ttyS3"));
  EXPECT_FALSE(HasUart(machine.sys(), "ttyS4"));
}

TEST(PortMapArguments, EachMappingReplacesOneEntry) {
  PortMap map;
  map.devices = {"/dev/ttyUSB0", "/dev/ttyUSB1", "", ""};
  std::string error;
  ASSERT_TRUE(map.ApplyArguments({"COM1=/dev/ttyUSB3", "COM3=/tmp/sim", "COM4=/odd=name"}, error)) << error;
  EXPECT_EQ(map.DeviceFor("COM1"), "/dev/ttyUSB3");
  EXPECT_EQ(map.DeviceFor("COM2"), "/dev/ttyUSB1");
  EXPECT_EQ(map.DeviceFor("COM3"), "/tmp/sim");
  EXPECT_EQ(map.DeviceFor("COM4"), "/odd=name");
  EXPECT_TRUE(map.ApplyArguments({}, error));
  EXPECT_EQ(map.DeviceFor("COM1"), "/dev/ttyUSB3");
}

TEST(PortMapArguments, MalformedMappingIsNamedAndChangesNothing) {
  for (const char* bad : {"COM5=x", "COM0=x", "COM1", "COM1=", "foo", "COM01=/dev/x", "=x"}) {
    PortMap map;
    map.devices = {"/dev/a", "", "", ""};
    std::string error;
    EXPECT_FALSE(map.ApplyArguments({"COM2=/dev/b", bad}, error)) << bad;
    EXPECT_NE(error.find(std::string("\"") + bad + "\""), std::string::npos) << error;
    EXPECT_EQ(map.devices, (std::array<std::string, 4>{"/dev/a", "", "", ""})) << bad;
  }
  PortMap map;
  std::string error;
  EXPECT_FALSE(map.ApplyArguments({"COM1\n=x"}, error));
  EXPECT_EQ(error.find('\n'), std::string::npos) << "the message stays on one line";
  EXPECT_FALSE(map.ApplyArguments({"COM9=/x\nFAKE LINE"}, error));
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  // COM names are read in any letter case, as every program reads them.
  ASSERT_TRUE(map.ApplyArguments({"com1=/dev/x", "Com2=/dev/y"}, error)) << error;
  EXPECT_EQ(map.devices[0], "/dev/x");
  EXPECT_EQ(map.devices[1], "/dev/y");
}

TEST(PortMapLookup, UnknownNamesHaveNoDevice) {
  PortMap map;
  map.devices = {"/dev/a", "/dev/b", "/dev/c", "/dev/d"};
  EXPECT_EQ(map.DeviceFor("COM4"), "/dev/d");
  for (const char* name : {"COM5", "COM0", "COM", "COM1 ", ""}) EXPECT_EQ(map.DeviceFor(name), "") << name;
  EXPECT_EQ(map.DeviceFor(nullptr), "");
  EXPECT_EQ(map.DeviceFor("com1"), "/dev/a");
}

}  // namespace
}  // namespace tarnwick
