// The Win32 serial port on a null-modem pair: COM1 and COM2 are the two ends
// of one line (two pseudo-terminals joined by a relay, see port-pair.sh).
//
// Exclusive opening (share mode 0) is not tested here: Wine does not enforce
// it on COM ports. It is tested on Linux, where the POSIX backend's tests open
// a port twice.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "frame_codec.h"
#include "programmer_state.h"
#include "serial_link.h"
#include "system_error_text.h"
#include "win32_serial_port.h"

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
