// The Win32 serial port on a null-modem pair: COM1 and COM2 are the two ends
// of one line (two pseudo-terminals joined by a relay, see port-pair.sh).
//
// Exclusive opening (share mode 0) is not tested here: Wine does not enforce
// it on COM ports. It is tested on Linux, where the POSIX backend's tests open
// a port twice.
#include "win32_serial_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "frame_codec.h"
#include "programmer_state.h"
#include "serial_devices.h"
#include "serial_link.h"
#include "system_error_text.h"
#include "wire_frames.h"
// After windows.h.
#include <setupapi.h>

namespace tarnwick::win32 {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kLocalEnd = "COM1";
constexpr const char* kRemoteEnd = "COM2";
constexpr DWORD kPatienceMs = 5000;

Bytes Pattern(std::size_t count, std::uint8_t seed) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

// Writes all of `bytes`, waiting (in the test only) while every slot is busy.
void WriteAll(Win32SerialPort& port, const Bytes& bytes) {
  std::size_t done = 0;
  const ULONGLONG start = ::GetTickCount64();
  while (done < bytes.size() && ::GetTickCount64() - start < kPatienceMs) {
    const std::ptrdiff_t taken = port.Write(bytes.data() + done, bytes.size() - done);
    ASSERT_GE(taken, 0);
    done += static_cast<std::size_t>(taken);
    if (taken == 0) ::Sleep(1);
  }
  ASSERT_EQ(done, bytes.size());
}

// Waits until at least `count` bytes wait at the port (they cross a relay).
std::size_t AwaitWaiting(Win32SerialPort& port, std::size_t count) {
  const ULONGLONG start = ::GetTickCount64();
  std::size_t waiting = port.BytesWaiting();
  while (waiting < count && ::GetTickCount64() - start < kPatienceMs) {
    ::Sleep(5);
    waiting = port.BytesWaiting();
  }
  return waiting;
}

// Reads until `count` bytes have arrived or the patience runs out.
Bytes ReadAll(Win32SerialPort& port, std::size_t count) {
  Bytes bytes;
  std::array<std::uint8_t, 512> chunk{};
  const ULONGLONG start = ::GetTickCount64();
  while (bytes.size() < count && ::GetTickCount64() - start < kPatienceMs) {
    const std::size_t waiting = std::min(port.BytesWaiting(), chunk.size());
    if (waiting == 0) {
      ::Sleep(2);
      continue;
    }
    const std::size_t got = port.Read(chunk.data(), waiting);
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
  }
  return bytes;
}

// Reads whatever arrives until the line has been quiet for a while.
void Drain(Win32SerialPort& port) {
  std::array<std::uint8_t, 512> chunk{};
  ULONGLONG lastByte = ::GetTickCount64();
  while (::GetTickCount64() - lastByte < 200) {
    const std::size_t waiting = std::min(port.BytesWaiting(), chunk.size());
    if (waiting > 0 && port.Read(chunk.data(), waiting) > 0) lastByte = ::GetTickCount64();
    ::Sleep(5);
  }
}

class PortPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link.OpenPort(kLocalEnd)) << port.LastError();
    ASSERT_TRUE(link.ConfigurePort()) << port.LastError();
    ASSERT_TRUE(remote.Open(kRemoteEnd)) << remote.LastError();
    ASSERT_TRUE(remote.Configure()) << remote.LastError();
    // Nothing left over from an earlier test.
    Drain(remote);
    Drain(port);
  }

  Win32SerialPort port;
  SerialLink link{port};
  Win32SerialPort remote;
  std::unique_ptr<ProgrammerState> state = std::make_unique<ProgrammerState>();
};

TEST_F(PortPairTest, PollTakesAtMost200BytesAndLeavesTheRestForTheNextPoll) {
  EXPECT_EQ(link.PollReceive(*state), 0u) << "nothing waits";

  const Bytes sent = Pattern(250, 3);
  WriteAll(remote, sent);
  ASSERT_EQ(AwaitWaiting(port, 250), 250u);
  ASSERT_EQ(link.PollReceive(*state), 200u);
  Bytes got(state->rxBytes.begin(), state->rxBytes.begin() + 200);
  ASSERT_EQ(link.PollReceive(*state), 50u);
  got.insert(got.end(), state->rxBytes.begin(), state->rxBytes.begin() + 50);
  EXPECT_EQ(got, sent);

  const Bytes few = Pattern(37, 9);
  WriteAll(remote, few);
  ASSERT_EQ(AwaitWaiting(port, 37), 37u);
  ASSERT_EQ(link.PollReceive(*state), 37u);
  EXPECT_TRUE(std::equal(few.begin(), few.end(), state->rxBytes.begin()));
  EXPECT_EQ(link.PollReceive(*state), 0u);
}

TEST_F(PortPairTest, FramesHandedOverTogetherReachTheLineWholeAndInOrder) {
  // Each tick may hand over a handshake and a block before either has gone
  // out; the block's buffer is the caller's and is reused at once.
  Bytes expected;
  std::array<std::uint8_t, kFrameBufferSize> source{};
  std::array<std::uint8_t, kFrameBufferSize> frame{};
  Bytes handshake(kHandshakeFrameLength);
  BuildFrame(handshakeSource.data(), handshake.data(), kHandshakeDataLength);
  for (std::uint8_t block = 0; block < 60; ++block) {
    link.SendHandshake();
    expected.insert(expected.end(), handshake.begin(), handshake.end());
    source[0] = static_cast<std::uint8_t>(block & 0x3F);
    const Bytes data = Pattern(128, block);
    std::copy(data.begin(), data.end(), source.begin() + 1);
    const int length = BuildFrame(source.data(), frame.data(), 128);
    link.SendFrame(WriteChannel::Block, frame.data(), static_cast<std::size_t>(length));
    expected.insert(expected.end(), frame.begin(), frame.begin() + length);
    frame.fill(0xEE);  // the caller's buffer changes while the write may be in flight
  }
  const Bytes got = ReadAll(remote, expected.size());
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_EQ(got, expected);
}

// A run cut short leaves the device's requests for it on the line, unread.
// The next open starts clean: none of them is read, and what the device
// sends once the port is open arrives whole.
TEST_F(PortPairTest, WhatWaitedOnTheLineBeforeTheOpenIsNotRead) {
  link.ClosePort();
  Bytes stale;
  for (int i = 0; i < 10; ++i) {
    const Bytes request = testing::Request(3);
    stale.insert(stale.end(), request.begin(), request.end());
  }
  WriteAll(remote, stale);
  ::Sleep(500);  // across the relay, to wait at COM1 while nothing has it open

  ASSERT_TRUE(link.OpenPort(kLocalEnd)) << port.LastError();
  ASSERT_TRUE(link.ConfigurePort()) << port.LastError();
  ::Sleep(200);
  EXPECT_EQ(port.BytesWaiting(), 0u);
  EXPECT_EQ(link.PollReceive(*state), 0u);
  const Bytes fresh = testing::Request(0);
  WriteAll(remote, fresh);
  ASSERT_EQ(AwaitWaiting(port, fresh.size()), fresh.size());
  ASSERT_EQ(link.PollReceive(*state), fresh.size());
  EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), state->rxBytes.begin()));
}

DCB ReadSettings(const char* portName) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  HANDLE handle = ::CreateFileA(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(::GetCommState(handle, &dcb));
  ::CloseHandle(handle);
  return dcb;
}

TEST_F(PortPairTest, ConfigureSetsTheLineKeepsTheFlowControlAndCloseGivesTheSettingsBack) {
  // Give the port settings of its own first, through a handle of the test's
  // own: 9600 baud, two stop bits, XON/XOFF both ways. (A pseudo-terminal
  // always has 8 bits and no parity, so neither the parity scheme kept nor
  // parity checking turned off can be shown on one.)
  link.ClosePort();
  HANDLE raw = ::CreateFileA(kLocalEnd, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(raw, INVALID_HANDLE_VALUE);
  DCB own{};
  own.DCBlength = sizeof own;
  ASSERT_TRUE(::GetCommState(raw, &own));
  own.BaudRate = 9600;
  own.StopBits = TWOSTOPBITS;
  own.fOutX = 1;
  own.fInX = 1;
  ASSERT_TRUE(::SetCommState(raw, &own));
  ::CloseHandle(raw);
  const DCB before = ReadSettings(kLocalEnd);
  ASSERT_EQ(before.BaudRate, 9600u);
  ASSERT_EQ(before.StopBits, TWOSTOPBITS);
  ASSERT_EQ(before.fOutX, 1u);
  ASSERT_EQ(before.fInX, 1u);

  ASSERT_TRUE(port.Open(kLocalEnd));
  ASSERT_TRUE(port.Configure()) << port.LastError();
  // Read through a second handle while the port is open, which Wine allows.
  const DCB during = ReadSettings(kLocalEnd);
  EXPECT_EQ(during.BaudRate, 4800u);
  EXPECT_EQ(during.ByteSize, 8);
  EXPECT_EQ(during.StopBits, ONESTOPBIT);
  EXPECT_EQ(during.fOutX, 1u) << "flow control is the port's own";
  EXPECT_EQ(during.fInX, 1u);
  EXPECT_EQ(during.fDtrControl, before.fDtrControl);
  EXPECT_EQ(during.XonChar, before.XonChar);
  EXPECT_EQ(during.XoffChar, before.XoffChar);

  // Closed, the port has its own settings back for the next program.
  port.Close();
  const DCB after = ReadSettings(kLocalEnd);
  EXPECT_EQ(after.BaudRate, 9600u);
  EXPECT_EQ(after.StopBits, TWOSTOPBITS);
  EXPECT_EQ(after.ByteSize, before.ByteSize);
  EXPECT_EQ(after.fOutX, 1u);
  EXPECT_EQ(after.fInX, 1u);
  EXPECT_EQ(after.fRtsControl, before.fRtsControl);
  EXPECT_EQ(after.fDtrControl, before.fDtrControl);
}

TEST_F(PortPairTest, ClosedPortSendsNothingAndPollsNothing) {
  link.ClosePort();
  EXPECT_FALSE(port.IsOpen());
  link.ClosePort();  // a second close does nothing
  port.Close();
  link.SendHandshake();
  EXPECT_EQ(link.PollReceive(*state), 0u);
  EXPECT_EQ(port.Write(Pattern(5, 1).data(), 5), -1);
  EXPECT_EQ(port.BytesWaiting(), 0u);
  ::Sleep(200);
  EXPECT_EQ(remote.BytesWaiting(), 0u) << "no handshake reached the line";
}

TEST_F(PortPairTest, ClosingWithWritesInFlightFreesEveryWriteForTheNextOpen) {
  for (int i = 0; i < 40; ++i) link.SendHandshake();
  link.ClosePort();
  EXPECT_EQ(port.WritesInFlight(), 0u);
  Drain(remote);

  ASSERT_TRUE(link.OpenPort(kLocalEnd)) << port.LastError();
  link.SendHandshake();
  const Bytes got = ReadAll(remote, kHandshakeFrameLength);
  Bytes handshake(kHandshakeFrameLength);
  BuildFrame(handshakeSource.data(), handshake.data(), kHandshakeDataLength);
  EXPECT_EQ(got, handshake);
}

// The ports the prefix maps are listed as "tarnwick-cli ports" shows them,
// though Wine's SetupAPI reports none of them, and PORT arguments resolve
// over them: COM names as they stand, usb: to the adapters present (none).
TEST(SerialDevicesTest, MappedPortsAreListedAndPortArgumentsResolveOverThem) {
  const DeviceTree tree;
  const std::vector<SerialDevice> devices = ListSerialDevices(tree);
  std::vector<std::string> names;
  for (const SerialDevice& device : devices) {
    names.push_back(device.name);
    if (device.name == kLocalEnd) {
      EXPECT_EQ(device.path, "\\\\.\\COM1");
      EXPECT_FALSE(device.usb);
    }
    // Only opening a port would tell whether it may be opened.
    EXPECT_EQ(device.access, PortAccess::Unknown) << device.name;
  }
  EXPECT_NE(std::find(names.begin(), names.end(), kLocalEnd), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), kRemoteEnd), names.end());

  std::vector<PortTarget> targets;
  std::string error;
  ASSERT_TRUE(ResolvePorts({"com1", "usb:0403:6001", "COM3=COM2"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_EQ(targets[0].path, kLocalEnd);
  EXPECT_TRUE(StillNamed(targets[0]));
  EXPECT_EQ(targets[1].label, "usb:0403:6001");
  EXPECT_EQ(targets[1].path, "");
  EXPECT_NE(targets[1].missing, "");
  EXPECT_FALSE(StillNamed(targets[1]));
  EXPECT_EQ(targets[2].label, "COM3");
  EXPECT_EQ(targets[2].path, kRemoteEnd);

  // Resolved again, the adapter is still absent; a COM name still stands.
  ResolveAgain(tree, targets[1]);
  EXPECT_EQ(targets[1].path, "");
  EXPECT_NE(targets[1].missing, "");
  ResolveAgain(tree, targets[0]);
  EXPECT_EQ(targets[0].path, kLocalEnd);

  EXPECT_FALSE(ResolvePorts({"usb-FTDI_FT232R_A50285BI-if00-port0"}, tree, targets, error));
  EXPECT_NE(error.find("usb:VID:PID"), std::string::npos) << error;
}

// A USB serial adapter as its driver shows it to SetupAPI (Wine takes any
// device registered in the Ports class for one present), gone at the end.
class FakeAdapter {
 public:
  FakeAdapter(const wchar_t* instanceId, const wchar_t* hardwareId, const wchar_t* portName)
      : set_(::SetupDiCreateDeviceInfoList(&kPortsClass, nullptr)) {
    data_.cbSize = sizeof data_;
    registered_ = ::SetupDiCreateDeviceInfoW(set_, instanceId, &kPortsClass, nullptr, nullptr, 0, &data_) &&
                  ::SetupDiRegisterDeviceInfo(set_, &data_, 0, nullptr, nullptr, nullptr);
    std::wstring ids = std::wstring(hardwareId) + L'\0';
    Property(SPDRP_HARDWAREID, ids.c_str(), ids.size() + 1);
    Property(SPDRP_MFG, L"FTDI", 5);
    MoveTo(portName);
  }
  ~FakeAdapter() {
    if (registered_) ::SetupDiRemoveDevice(set_, &data_);
    ::SetupDiDestroyDeviceInfoList(set_);
  }
  bool registered() const { return registered_; }
  void MoveTo(const std::wstring& portName) {
    const HKEY key = ::SetupDiCreateDevRegKeyW(set_, &data_, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE) return;
    ::RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName.c_str()),
                     static_cast<DWORD>((portName.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    const std::wstring friendly = L"USB Serial Port (" + portName + L")";
    Property(SPDRP_FRIENDLYNAME, friendly.c_str(), friendly.size() + 1);
  }

 private:
  static constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
  void Property(DWORD property, const wchar_t* value, std::size_t units) {
    ::SetupDiSetDeviceRegistryPropertyW(set_, &data_, property, reinterpret_cast<const BYTE*>(value),
                                        static_cast<DWORD>(units * sizeof(wchar_t)));
  }
  HDEVINFO set_;
  SP_DEVINFO_DATA data_ = {};
  bool registered_ = false;
};

// Adapters SetupAPI reports are listed with their IDs and serial numbers,
// merged with the ports only the registry's list names; usb: finds them, and
// an adapter that moves to another COM number is followed there.
TEST(SerialDevicesTest, UsbAdaptersAreFoundByTheirIdsAndFollowedToAnotherComNumber) {
  FakeAdapter first(L"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", L"FTDIBUS\\COMPORT&VID_0403&PID_6001", L"COM2");
  FakeAdapter second(L"FTDIBUS\\VID_0403+PID_6001+B7A\\0000", L"FTDIBUS\\COMPORT&VID_0403&PID_6001", L"COM5");
  FakeAdapter ch340(L"USB\\VID_1A86&PID_7523\\5&2E1A3B2&0&2", L"USB\\VID_1A86&PID_7523&REV_0264", L"COM6");
  ASSERT_TRUE(first.registered() && second.registered() && ch340.registered());

  const DeviceTree tree;
  const std::vector<SerialDevice> devices = ListSerialDevices(tree);
  // The ports of the registry's list (COM1 and COM2 as mapped, whatever
  // else the machine has), in the order of their numbers.
  std::vector<std::string> listed;
  for (const SerialDevice& device : devices) {
    listed.push_back(device.name + (device.usb
                                        ? " usb:" + device.vendorId + ":" + device.productId + ":" + device.serial
                                        : std::string()));
  }
  const auto at = [&](const std::string& entry) { return std::find(listed.begin(), listed.end(), entry); };
  EXPECT_NE(at("COM1"), listed.end());
  EXPECT_LT(at("COM1"), at("COM2 usb:0403:6001:A50285BI"));
  EXPECT_LT(at("COM2 usb:0403:6001:A50285BI"), at("COM5 usb:0403:6001:B7"));
  EXPECT_LT(at("COM5 usb:0403:6001:B7"), at("COM6 usb:1a86:7523:"));
  EXPECT_NE(at("COM6 usb:1a86:7523:"), listed.end());
  EXPECT_EQ(
      std::count_if(listed.begin(), listed.end(), [](const std::string& entry) { return entry.starts_with("COM2"); }),
      1);
  const auto adapter =
      std::find_if(devices.begin(), devices.end(), [](const SerialDevice& device) { return device.name == "COM2"; });
  ASSERT_NE(adapter, devices.end());
  EXPECT_EQ(adapter->path, "\\\\.\\COM2");
  EXPECT_EQ(adapter->friendlyName, "USB Serial Port (COM2)");
  EXPECT_EQ(adapter->manufacturer, "FTDI");
  EXPECT_EQ(adapter->product, "USB Serial Port");
  EXPECT_EQ(adapter->access, PortAccess::Unknown);

  std::vector<PortTarget> targets;
  std::string error;
  ASSERT_TRUE(ResolvePorts({"usb:0403:6001", "usb:1A86:7523", "COM2"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 4u);
  EXPECT_EQ(targets[0].path, "COM2");
  EXPECT_EQ(targets[0].argument, "usb:0403:6001:A50285BI");
  EXPECT_EQ(targets[1].path, "COM5");
  EXPECT_EQ(targets[1].argument, "usb:0403:6001:B7");
  EXPECT_EQ(targets[2].path, "COM6");
  EXPECT_EQ(targets[2].usbSerial, "");
  EXPECT_EQ(targets[3].usbSerial, "A50285BI");
  for (const PortTarget& target : targets) EXPECT_TRUE(StillNamed(target)) << target.path;

  // The first adapter comes back as COM1: COM2 no longer has it, and its
  // usb: target follows it.
  first.MoveTo(L"COM1");
  EXPECT_FALSE(StillNamed(targets[0]));
  EXPECT_FALSE(StillNamed(targets[3]));
  ResolveAgain(tree, targets[0]);
  EXPECT_EQ(targets[0].path, "COM1");
  EXPECT_EQ(targets[0].label, "usb:0403:6001");
  EXPECT_TRUE(StillNamed(targets[0]));
  ASSERT_TRUE(ResolvePorts({"usb:0403:6001:a50285bi"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 1u);
  EXPECT_EQ(targets[0].path, "COM1");
}

std::string SystemText(long code) {
  std::array<char, 256> text{};
  SystemErrorText(static_cast<DWORD>(code), text.data(), text.size());
  return text.data();
}

TEST(PortOpenTest, MissingPortFailsWithTheSystemsReason) {
  Win32SerialPort port;
  EXPECT_FALSE(port.Open("COM9"));
  EXPECT_FALSE(port.IsOpen());
  const PortError error = port.LastPortError();
  EXPECT_EQ(error.kind, PortErrorKind::NotFound);
  EXPECT_TRUE(error.code == ERROR_FILE_NOT_FOUND || error.code == ERROR_PATH_NOT_FOUND) << error.code;
  // The port's name once, then the system's words.
  EXPECT_EQ(std::string(port.LastError()), "COM9: " + SystemText(error.code));
  port.Close();  // nothing to close
}

// Wine lets a COM port be opened twice, but not a file held without sharing:
// a file stands in for a held port. Let go, it opens, and is no serial port.
TEST(PortOpenTest, HeldPortIsInUseAndAFileIsNoSerialPort) {
  std::array<char, MAX_PATH> folder{};
  ASSERT_NE(::GetTempPathA(static_cast<DWORD>(folder.size()), folder.data()), 0u);
  const std::string path = std::string(folder.data()) + "tarnwick-held-port.bin";
  HANDLE holder = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  Win32SerialPort port;
  EXPECT_FALSE(port.Open(path.c_str()));
  PortError error = port.LastPortError();
  EXPECT_EQ(error.kind, PortErrorKind::InUse);
  EXPECT_EQ(error.code, ERROR_SHARING_VIOLATION);
  EXPECT_EQ(error.holderPid, 0) << "Windows does not say who holds it";
  EXPECT_STREQ(error.holderName, "");
  EXPECT_EQ(std::string(port.LastError()),
            path + ": " + SystemText(ERROR_SHARING_VIOLATION) + ": another program has the port open");

  ::CloseHandle(holder);
  EXPECT_FALSE(port.Open(path.c_str()));
  EXPECT_FALSE(port.IsOpen());
  error = port.LastPortError();
  EXPECT_EQ(error.kind, PortErrorKind::NotATerminal);
  EXPECT_NE(error.code, 0);
  EXPECT_EQ(std::string(port.LastError()), path + ": " + SystemText(error.code));
  ::DeleteFileA(path.c_str());
}

// The system refuses a port that another program holds (Wine does not: it
// lets a port be opened twice, so the wording is checked on its own).
TEST(PortOpenTest, RefusedPortIsSaidToBeHeldByAnotherProgram) {
  constexpr const char* kHeld = ": another program has the port open";
  for (const DWORD code : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_SHARING_VIOLATION}}) {
    std::array<char, 256> text{};
    PortOpenErrorText(code, text.data(), text.size());
    std::array<char, 256> system{};
    SystemErrorText(code, system.data(), system.size());
    EXPECT_EQ(std::string(text.data()), std::string(system.data()) + kHeld);
  }
  std::array<char, 256> missing{};
  PortOpenErrorText(ERROR_FILE_NOT_FOUND, missing.data(), missing.size());
  EXPECT_EQ(std::string(missing.data()).find(kHeld), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::win32
