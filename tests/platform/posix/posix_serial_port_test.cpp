// The serial link on the POSIX backend, against real pseudo-terminals: the
// test plays the device on the master side.
#include "posix_serial_port.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "frame_codec.h"
#include "permission_hint.h"
#include "port_holders.h"
#include "pty_pair.h"
#include "serial_devices.h"
#include "serial_link.h"
#include "wire_frames.h"

namespace tarnwick {
namespace {

using testing::PtyPair;

// The real port, watched: counts reads and notices writes the OS took only in part.
class WatchedPort : public SerialPort {
 public:
  explicit WatchedPort(PosixSerialPort& real) : real_(real) {}
  bool Open(const char* portName) override { return real_.Open(portName); }
  bool Configure() override { return real_.Configure(); }
  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override {
    const std::ptrdiff_t taken = real_.Write(data, length);
    if (taken > 0 && static_cast<std::size_t>(taken) < length) ++partialWrites;
    return taken;
  }
  std::size_t BytesWaiting() override { return real_.BytesWaiting(); }
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    ++reads;
    return real_.Read(out, count);
  }
  void Close() override { real_.Close(); }
  bool HasFailed() const override { return real_.HasFailed(); }
  const char* LastError() const override { return real_.LastError(); }

  int reads = 0;
  int partialWrites = 0;

 private:
  PosixSerialPort& real_;
};

PortMap MapCom1To(const std::string& path) {
  PortMap map;
  map.devices[0] = path;
  return map;
}

std::vector<std::uint8_t> Counting(std::size_t count, std::size_t first = 0) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

class PosixLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty.ok()) << "no pseudo-terminal: " << std::strerror(errno); }
  void OpenAndConfigure() {
    ASSERT_TRUE(link.OpenPort("COM1")) << port.LastError();
    ASSERT_TRUE(link.ConfigurePort()) << port.LastError();
  }
  void WaitForWaiting(std::size_t count) {
    ASSERT_TRUE(PtyPair::WaitUntil([&] { return port.BytesWaiting() >= count; }))
        << "only " << port.BytesWaiting() << " of " << count << " bytes arrived";
  }
  std::vector<std::uint8_t> Received(std::uint32_t count) const {
    return {state->rxBytes.begin(), state->rxBytes.begin() + count};
  }

  PtyPair pty;
  PosixSerialPort port{MapCom1To(pty.slavePath())};
  WatchedPort watched{port};
  SerialLink link{watched};
  std::unique_ptr<ProgrammerState> state = std::make_unique<ProgrammerState>();
};

TEST_F(PosixLinkTest, PollTakesAtMost200AndLeavesTheRestForLaterPolls) {
  OpenAndConfigure();
  const auto bytes = Counting(250);  // every value from 0 to 249, control bytes included
  pty.DeviceSends(bytes);
  WaitForWaiting(250);
  ASSERT_EQ(link.PollReceive(*state), 200u);
  EXPECT_EQ(Received(200), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 200));

  // The other 50 come with whatever arrived since.
  const auto later = Counting(30, 250);
  pty.DeviceSends(later);
  WaitForWaiting(80);
  ASSERT_EQ(link.PollReceive(*state), 80u);
  auto expected = std::vector<std::uint8_t>(bytes.begin() + 200, bytes.end());
  expected.insert(expected.end(), later.begin(), later.end());
  EXPECT_EQ(Received(80), expected);
  EXPECT_EQ(link.PollReceive(*state), 0u);
}

TEST_F(PosixLinkTest, PollTakesExactlyWhatWaits) {
  OpenAndConfigure();
  pty.DeviceSends(Counting(37, 100));
  WaitForWaiting(37);
  ASSERT_EQ(link.PollReceive(*state), 37u);
  EXPECT_EQ(Received(37), Counting(37, 100));
}

TEST_F(PosixLinkTest, NothingWaitingMeansNoRead) {
  OpenAndConfigure();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(link.PollReceive(*state), 0u);
  EXPECT_EQ(watched.reads, 0);

  pty.DeviceSends({0x33, 0xBB});
  WaitForWaiting(2);
  EXPECT_EQ(link.PollReceive(*state), 2u);
  EXPECT_EQ(watched.reads, 1);
}

// A run cut short leaves the device's requests for it on the line, unread.
// The next open starts clean: none of them is read, and what the device
// sends once the port is open arrives whole.
TEST_F(PosixLinkTest, WhatWaitedOnTheLineBeforeTheOpenIsNotRead) {
  ASSERT_TRUE(pty.HoldSerialEnd()) << std::strerror(errno);
  testing::Bytes stale;
  for (int i = 0; i < 10; ++i) {
    const testing::Bytes request = testing::Request(3);
    stale.insert(stale.end(), request.begin(), request.end());
  }
  pty.DeviceSends(stale);
  ASSERT_TRUE(PtyPair::WaitUntil([&] { return pty.WaitingAtSerialEnd() == stale.size(); }))
      << pty.WaitingAtSerialEnd() << " of " << stale.size() << " bytes wait on the line";

  OpenAndConfigure();
  EXPECT_EQ(port.BytesWaiting(), 0u);
  EXPECT_EQ(link.PollReceive(*state), 0u);
  const testing::Bytes fresh = testing::Request(0);
  pty.DeviceSends(fresh);
  WaitForWaiting(fresh.size());
  ASSERT_EQ(link.PollReceive(*state), fresh.size());
  EXPECT_EQ(Received(static_cast<std::uint32_t>(fresh.size())), fresh);
}

// A slave descriptor of the test's own, to set and read back the terminal's
// settings around the port under test.
class SlaveSide {
 public:
  explicit SlaveSide(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  ~SlaveSide() {
    if (fd_ >= 0) ::close(fd_);
  }
  SlaveSide(const SlaveSide&) = delete;
  SlaveSide& operator=(const SlaveSide&) = delete;
  int fd() const { return fd_; }
  termios Settings() const {
    termios settings{};
    EXPECT_EQ(::tcgetattr(fd_, &settings), 0) << std::strerror(errno);
    return settings;
  }
  void Apply(const termios& settings) const {
    EXPECT_EQ(::tcsetattr(fd_, TCSANOW, &settings), 0) << std::strerror(errno);
  }
  bool Exclusive() const {
    int exclusive = -1;
    EXPECT_EQ(::ioctl(fd_, TIOCGEXCL, &exclusive), 0) << std::strerror(errno);
    return exclusive != 0;
  }

 private:
  int fd_;
};

// XON, XOFF, CR, LF and the interrupt and end-of-file characters are plain
// data on this line, whatever the terminal was set to before.
TEST_F(PosixLinkTest, EveryByteValueCrossesUntouchedInBothDirections) {
  SlaveSide slave(pty.slavePath());
  ASSERT_GE(slave.fd(), 0);
  termios cooked = slave.Settings();
  cooked.c_iflag |= IXON | IXOFF | ICRNL;
  cooked.c_oflag |= OPOST | ONLCR;
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  slave.Apply(cooked);
  OpenAndConfigure();

  const auto all = Counting(256);
  pty.DeviceSends(all);
  WaitForWaiting(256);
  std::vector<std::uint8_t> received;
  while (const std::uint32_t count = link.PollReceive(*state)) {
    const auto chunk = Received(count);
    received.insert(received.end(), chunk.begin(), chunk.end());
  }
  EXPECT_EQ(received, all);

  link.SendFrame(WriteChannel::Block, all.data(), all.size());
  EXPECT_EQ(pty.DeviceReceivesAtLeast(all.size()), all);
}

TEST_F(PosixLinkTest, ConfigureSetsTheLineAndKeepsTheParitySchemeAndFlowControl) {
  SlaveSide slave(pty.slavePath());
  ASSERT_GE(slave.fd(), 0);
  for (const bool portsOwnBitsSet : {true, false}) {
    SCOPED_TRACE(portsOwnBitsSet ? "parity scheme and flow control set" : "parity scheme and flow control clear");
    termios before = slave.Settings();
    cfsetispeed(&before, B9600);
    cfsetospeed(&before, B9600);
    before.c_cflag |= CSTOPB;
    before.c_iflag |= INPCK;
    const tcflag_t ownBits = PARODD | CMSPAR | CRTSCTS;
    before.c_cflag = portsOwnBitsSet ? (before.c_cflag | ownBits) : (before.c_cflag & ~ownBits);
    slave.Apply(before);

    OpenAndConfigure();
    const termios after = slave.Settings();
    EXPECT_EQ(cfgetispeed(&after), B4800);
    EXPECT_EQ(cfgetospeed(&after), B4800);
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(after.c_cflag & (CSTOPB | PARENB), 0u);
    EXPECT_EQ(after.c_iflag & INPCK, 0u);
    EXPECT_EQ(after.c_cflag & ownBits, before.c_cflag & ownBits);
    link.ClosePort();
  }
}

// A port set up for other use, as a console is: cooked, echoing, signals on,
// 9600 baud, two stop bits, reads that wait.
termios ForOtherUse(termios settings) {
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  settings.c_iflag |= ICRNL | IXON | IXOFF | INPCK | BRKINT;
  settings.c_oflag |= OPOST | ONLCR;
  settings.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  settings.c_cflag |= CSTOPB | HUPCL;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 3;
  settings.c_cc[VINTR] = 0x07;
  return settings;
}

void ExpectSameSettings(const termios& actual, const termios& expected) {
  EXPECT_EQ(actual.c_iflag, expected.c_iflag);
  EXPECT_EQ(actual.c_oflag, expected.c_oflag);
  EXPECT_EQ(actual.c_cflag, expected.c_cflag);
  EXPECT_EQ(actual.c_lflag, expected.c_lflag);
  EXPECT_EQ(actual.c_line, expected.c_line);
  EXPECT_TRUE(std::equal(std::begin(actual.c_cc), std::end(actual.c_cc), std::begin(expected.c_cc)));
  EXPECT_EQ(cfgetispeed(&actual), cfgetispeed(&expected));
  EXPECT_EQ(cfgetospeed(&actual), cfgetospeed(&expected));
}

// However the port is let go, the terminal is left exactly as it was found.
TEST_F(PosixLinkTest, SettingsAsFoundAreGivenBackExactlyWhenThePortIsLetGo) {
  SlaveSide slave(pty.slavePath());
  ASSERT_GE(slave.fd(), 0);
  slave.Apply(ForOtherUse(slave.Settings()));
  const termios found = slave.Settings();  // as the terminal took them
  ASSERT_EQ(cfgetospeed(&found), B9600);
  ASSERT_NE(found.c_lflag & ICANON, 0u);
  auto expectInUse = [&] {
    const termios inUse = slave.Settings();
    EXPECT_EQ(cfgetospeed(&inUse), B4800);
    EXPECT_EQ(inUse.c_lflag & (ICANON | ECHO | ISIG), 0u);
  };
  {
    SCOPED_TRACE("closed through the link");
    OpenAndConfigure();
    expectInUse();
    link.ClosePort();
    ExpectSameSettings(slave.Settings(), found);
  }
  {
    SCOPED_TRACE("opened again while open");
    ASSERT_TRUE(port.Open("COM1")) << port.LastError();
    ASSERT_TRUE(port.Configure()) << port.LastError();
    ASSERT_TRUE(port.Open("COM1")) << port.LastError();
    ExpectSameSettings(slave.Settings(), found);
    ASSERT_TRUE(port.Configure()) << port.LastError();
    port.Close();
    ExpectSameSettings(slave.Settings(), found);
  }
  {
    SCOPED_TRACE("the port object destroyed while open");
    {
      PosixSerialPort other(MapCom1To(pty.slavePath()));
      ASSERT_TRUE(other.Open("COM1")) << other.LastError();
      ASSERT_TRUE(other.Configure()) << other.LastError();
      expectInUse();
    }
    ExpectSameSettings(slave.Settings(), found);
  }
  {
    SCOPED_TRACE("a device on the line when it closes");
    OpenAndConfigure();
    const auto block = Counting(133);
    link.SendFrame(WriteChannel::Block, block.data(), block.size());
    pty.DeviceSends(Counting(40));
    WaitForWaiting(40);
    link.ClosePort();  // neither read nor written: closing does not wait for the line
    ExpectSameSettings(slave.Settings(), found);
  }
}

// The terminal refuses the line settings: the port says why and closes as
// any other.
TEST_F(PosixLinkTest, SettingsTheTerminalRefusesFailConfigureWithTheSystemsReason) {
  {
    SCOPED_TRACE("a line that hung up before it was configured");
    ASSERT_TRUE(link.OpenPort("COM1")) << port.LastError();
    pty.CloseMaster();
    EXPECT_FALSE(link.ConfigurePort());
    EXPECT_EQ(std::string(link.LastOpenError()), pty.slavePath() + ": " + std::strerror(EIO));
    EXPECT_EQ(port.LastPortError().kind, PortErrorKind::Gone);
    EXPECT_EQ(port.LastPortError().code, EIO);
    link.ClosePort();
    EXPECT_FALSE(link.IsOpen());
  }
  EXPECT_FALSE(link.ConfigurePort()) << "no port is open";
  EXPECT_FALSE(port.Configure());
  EXPECT_EQ(std::string(port.LastError()), "the port is not open");
  EXPECT_EQ(port.LastPortError().kind, PortErrorKind::Other);
}

// A terminal that is the controlling terminal of a session, set from outside
// its foreground: it reads its settings out but refuses to change them (the
// kernel stops the caller with SIGTTOU; caught, the call fails with EINTR).
TEST(PosixSerialPortConfigure, SettingsRefusedAfterTheyWereReadFailConfigure) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  int result[2];
  ASSERT_EQ(::pipe(result), 0);
  const pid_t leader = ::fork();
  ASSERT_GE(leader, 0);
  if (leader == 0) {
    ::close(result[0]);
    // A new session whose controlling terminal is the line: the session's
    // first terminal opened without O_NOCTTY becomes it.
    ::setsid();
    const int terminal = ::open(pty.slavePath().c_str(), O_RDWR);
    if (terminal < 0) ::_exit(2);
    ::close(terminal);  // it stays the session's terminal
    const pid_t background = ::fork();
    if (background == 0) {
      ::setpgid(0, 0);
      struct sigaction action {};
      action.sa_handler = [](int) {};
      ::sigaction(SIGTTOU, &action, nullptr);  // no SA_RESTART
      PosixSerialPort port(MapCom1To(pty.slavePath()));
      std::string report = port.Open("COM1") ? (port.Configure() ? "configured" : port.LastError())
                                             : std::string("not opened: ") + port.LastError();
      (void)!::write(result[1], report.data(), report.size());
      port.Close();
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(background, &status, 0);
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 3);
  }
  ::close(result[1]);
  std::string report;
  char chunk[256];
  for (ssize_t got; (got = ::read(result[0], chunk, sizeof chunk)) > 0;)
    report.append(chunk, static_cast<std::size_t>(got));
  ::close(result[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(leader, &status, 0), leader);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(report, pty.slavePath() + ": " + std::strerror(EINTR));
}

TEST_F(PosixLinkTest, HandshakeIsTheSame14BytesEveryTime) {
  OpenAndConfigure();
  link.SendHandshake();
  link.SendHandshake();
  const std::vector<std::uint8_t> handshake = {0xCC, 0xDD, 0x80, 0x08, 'q', 'l',  'u',
                                               'm',  't',  'r',  'a',  'v', 0x00, 0x04};
  auto twice = handshake;
  twice.insert(twice.end(), handshake.begin(), handshake.end());
  EXPECT_EQ(pty.DeviceReceivesAtLeast(twice.size()), twice);
}

TEST_F(PosixLinkTest, HandshakeAndBlockInOneTickArriveWholeAndInOrder) {
  OpenAndConfigure();
  std::array<std::uint8_t, kBlockSize + 1> source{};
  source[0] = 0x13;  // the request byte, here the XOFF character
  for (std::size_t i = 1; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7);
  std::array<std::uint8_t, kFrameBufferSize> block{};
  const int length = BuildFrame(source.data(), block.data(), kBlockSize);

  link.SendHandshake();
  link.SendFrame(WriteChannel::Block, block.data(), static_cast<std::size_t>(length));
  block.fill(0);  // the caller's buffer is free as soon as the call returns

  std::vector<std::uint8_t> expected(kHandshakeFrameLength);
  BuildFrame(handshakeSource.data(), expected.data(), kHandshakeDataLength);
  std::vector<std::uint8_t> blockFrame(static_cast<std::size_t>(length));
  BuildFrame(source.data(), blockFrame.data(), kBlockSize);
  expected.insert(expected.end(), blockFrame.begin(), blockFrame.end());
  EXPECT_EQ(pty.DeviceReceivesAtLeast(expected.size()), expected);
}

TEST_F(PosixLinkTest, WriteTheTerminalTakesOnlyInPartGoesOnAtLaterPollsWholeAndInOrder) {
  OpenAndConfigure();
  // The device reads nothing until the terminal's buffers are full.
  std::vector<std::uint8_t> expected;
  std::array<std::uint8_t, kFrameBufferSize> frame{};  // one buffer, reused for every frame
  std::array<std::uint8_t, kBlockSize + 1> source{};
  std::mt19937 random(7);
  // Goes on some frames past the first refusal (the kernel may still make room
  // for a while), and stops with bytes queued but never so many that a frame
  // would not fit in the link's queue.
  int framesAfterFull = -1;
  for (int sent = 0; sent < 5000; ++sent) {
    if (framesAfterFull >= 20 && link.PendingBytes() > 0) break;
    if (link.PendingBytes() + kFrameOverhead + kBlockSize > kSendQueueSize) break;
    for (auto& byte : source) byte = static_cast<std::uint8_t>(random());
    const auto length = static_cast<std::size_t>(BuildFrame(source.data(), frame.data(), kBlockSize));
    link.SendFrame(WriteChannel::Block, frame.data(), length);
    expected.insert(expected.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));
    if (framesAfterFull >= 0) ++framesAfterFull;
    if (framesAfterFull < 0 && link.PendingBytes() > 0) framesAfterFull = 0;
  }
  ASSERT_GE(framesAfterFull, 0) << "the terminal never refused a write";
  EXPECT_GT(watched.partialWrites, 0) << "no write was taken only in part";
  ASSERT_GT(link.PendingBytes(), 0u);

  // Now the device reads while the link polls.
  std::vector<std::uint8_t> received;
  PtyPair::WaitUntil([&] {
    const auto more = pty.DeviceReceives();
    received.insert(received.end(), more.begin(), more.end());
    link.PollReceive(*state);
    return received.size() >= expected.size();
  });
  EXPECT_EQ(link.PendingBytes(), 0u);
  ASSERT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected) << "bytes lost, doubled or out of order";
}

TEST_F(PosixLinkTest, FarEndClosingFailsThePortForGood) {
  OpenAndConfigure();
  // Some bytes still queued in the link when the far end goes.
  const auto block = Counting(133);
  for (int i = 0; i < 1000 && link.PendingBytes() == 0; ++i)
    link.SendFrame(WriteChannel::Block, block.data(), block.size());
  ASSERT_GT(link.PendingBytes(), 0u);
  pty.DeviceSends({1, 2, 3});
  pty.CloseMaster();

  const auto start = std::chrono::steady_clock::now();
  for (int tick = 0; tick < 500; ++tick) {
    EXPECT_EQ(link.PollReceive(*state), 0u);
    link.SendHandshake();
    link.SendFrame(WriteChannel::Block, block.data(), block.size());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "calls must not wait";
  EXPECT_EQ(link.PendingBytes(), 0u) << "nothing piles up for a line that is gone";
  EXPECT_EQ(port.Write(block.data(), block.size()), -1);
  EXPECT_EQ(watched.reads, 0);
  EXPECT_TRUE(link.PortFailed());
  // The device's path once, then the system's words.
  EXPECT_EQ(std::string(port.LastError()), pty.slavePath() + ": " + std::strerror(EIO));
  EXPECT_EQ(port.LastPortError().kind, PortErrorKind::Gone);
  EXPECT_EQ(port.LastPortError().code, EIO);
  // Giving a line that is gone its settings back fails at once.
  const auto closing = std::chrono::steady_clock::now();
  link.ClosePort();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(500));
  EXPECT_FALSE(link.IsOpen());
  EXPECT_FALSE(link.PortFailed());
  EXPECT_EQ(link.PollReceive(*state), 0u);
}

// The device goes while the host only listens: the next poll finds the hang-up.
TEST_F(PosixLinkTest, FarEndClosingWhileOnlyPollingIsFound) {
  OpenAndConfigure();
  EXPECT_EQ(link.PollReceive(*state), 0u);
  EXPECT_FALSE(link.PortFailed());
  pty.CloseMaster();
  EXPECT_EQ(link.PollReceive(*state), 0u);
  EXPECT_TRUE(link.PortFailed());
  EXPECT_TRUE(port.HasFailed());
  EXPECT_EQ(std::string(port.LastError()), pty.slavePath() + ": " + std::strerror(EIO));
  EXPECT_EQ(port.LastPortError().kind, PortErrorKind::Gone);
  EXPECT_EQ(port.LastPortError().code, EIO);

  // Opened again, the port has no error to tell.
  PtyPair next;
  ASSERT_TRUE(next.ok());
  PosixSerialPort again(MapCom1To(next.slavePath()));
  EXPECT_FALSE(again.Open("COM2"));
  EXPECT_EQ(again.LastPortError().kind, PortErrorKind::NotFound);
  ASSERT_TRUE(again.Open("COM1")) << again.LastError();
  EXPECT_EQ(again.LastPortError().kind, PortErrorKind::None);
  EXPECT_EQ(again.LastPortError().code, 0);
  EXPECT_STREQ(again.LastError(), "");
}

TEST_F(PosixLinkTest, CloseIsOnceAndAClosedLinkDoesNothing) {
  link.ClosePort();  // nothing open yet
  OpenAndConfigure();
  pty.DeviceSends({0x33, 0xBB, 0x80});
  WaitForWaiting(3);
  link.ClosePort();
  link.ClosePort();
  EXPECT_FALSE(link.IsOpen());

  link.SendHandshake();
  const auto block = Counting(133);
  link.SendFrame(WriteChannel::Block, block.data(), block.size());
  EXPECT_EQ(link.PollReceive(*state), 0u);
  EXPECT_EQ(watched.reads, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(pty.DeviceReceives().empty());

  // Closed means released: the port opens again.
  EXPECT_TRUE(link.OpenPort("COM1")) << port.LastError();
}

TEST_F(PosixLinkTest, PortThatIsHeldFailsToOpen) {
  OpenAndConfigure();
  // A second port object in this program, as a second copy of the program would.
  PosixSerialPort second(MapCom1To(pty.slavePath()));
  EXPECT_FALSE(second.Open("COM1"));
  EXPECT_NE(std::string(second.LastError()).find(pty.slavePath()), std::string::npos) << second.LastError();
  // The exclusive mode (EBUSY) stops all but the superuser, the lock the rest.
  EXPECT_EQ(second.LastPortError().kind, PortErrorKind::InUse);
  EXPECT_EQ(second.LastPortError().code, ::geteuid() == 0 ? EWOULDBLOCK : EBUSY);

  // Another process.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PosixSerialPort other(MapCom1To(pty.slavePath()));
    ::_exit(other.Open("COM1") ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened a held port";

  link.ClosePort();
  EXPECT_TRUE(second.Open("COM1")) << second.LastError();
}

// A terminal program that opened the port first, without any lock.
TEST_F(PosixLinkTest, PortThatAnotherProcessHoldsWithoutALockFailsToOpen) {
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pty.master());  // not the far end of the line: a rival
    ::close(ready[0]);
    ::close(release[1]);
    ::prctl(PR_SET_NAME, "rival-terminal");
    const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    char byte = fd >= 0 ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    (void)!::read(release[0], &byte, 1);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  EXPECT_FALSE(link.OpenPort("COM1"));
  EXPECT_EQ(std::string(port.LastError()),
            pty.slavePath() + ": in use by rival-terminal (pid " + std::to_string(child) + ")");
  const PortError error = port.LastPortError();
  EXPECT_EQ(error.kind, PortErrorKind::InUse);
  EXPECT_EQ(error.holderPid, child);
  EXPECT_STREQ(error.holderName, "rival-terminal");
  EXPECT_EQ(OpenAdvice(pty.slavePath(), error)
                .rfind("close rival-terminal (pid " + std::to_string(child) + "), which holds it", 0),
            0u)
      << OpenAdvice(pty.slavePath(), error);
  ::close(release[1]);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_TRUE(link.OpenPort("COM1")) << port.LastError();
  for (int fd : {ready[0], ready[1], release[0]}) ::close(fd);
}

// The same look on a fake /proc: the far end of a pseudo-terminal and this
// process itself do not count.
TEST_F(PosixLinkTest, HoldersAreFoundThroughProcExceptTheLinesFarEnd) {
  namespace fs = std::filesystem;
  const fs::path proc = fs::temp_directory_path() / ("tarnwick-proc-" + std::to_string(::getpid()));
  fs::remove_all(proc);
  auto process = [&](const std::string& pid, const std::string& name) {
    fs::create_directories(proc / pid / "fd");
    fs::create_directories(proc / pid / "fdinfo");
    std::ofstream(proc / pid / "comm") << name << "\n";
    return proc / pid;
  };
  const auto self = process(std::to_string(::getpid()), "self");
  fs::create_symlink(pty.slavePath(), self / "fd" / "3");
  const auto farEnd = process("200", "line-maker");
  fs::create_symlink(pty.slavePath(), farEnd / "fd" / "3");
  fs::create_symlink("/dev/ptmx", farEnd / "fd" / "4");
  const std::string index = pty.slavePath().substr(pty.slavePath().rfind('/') + 1);
  std::ofstream(farEnd / "fdinfo" / "4") << "pos:\t0\nflags:\t02\ntty-index:\t" << index << "\n";
  EXPECT_FALSE(FindOtherHolder(pty.slavePath(), proc.string()).has_value());

  const auto rival = process("300", "ModemManager");
  fs::create_symlink("/dev/null", rival / "fd" / "0");
  fs::create_symlink(pty.slavePath(), rival / "fd" / "7");
  const auto holder = FindOtherHolder(pty.slavePath(), proc.string());
  ASSERT_TRUE(holder.has_value());
  EXPECT_EQ(holder->pid, 300);
  EXPECT_EQ(holder->name, "ModemManager");
  EXPECT_FALSE(FindOtherHolder("/dev/null", (proc / "none").string()).has_value()) << "no /proc: go on";
  fs::remove_all(proc);
}

TEST_F(PosixLinkTest, OpenPortKeepsOtherProgramsOutUntilClosed) {
  SlaveSide slave(pty.slavePath());
  ASSERT_GE(slave.fd(), 0);
  EXPECT_FALSE(slave.Exclusive());
  OpenAndConfigure();
  // Opens by others now fail with EBUSY (the superuser is let through).
  EXPECT_TRUE(slave.Exclusive());
  if (::geteuid() != 0) {
    errno = 0;
    EXPECT_LT(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    EXPECT_EQ(errno, EBUSY);
  }
  link.ClosePort();
  EXPECT_FALSE(slave.Exclusive());
}

TEST_F(PosixLinkTest, PortLockedByAnotherProgramFailsAndIsLeftAsItWas) {
  SlaveSide holder(pty.slavePath());
  ASSERT_GE(holder.fd(), 0);
  ASSERT_EQ(::flock(holder.fd(), LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(link.OpenPort("COM1"));
  EXPECT_EQ(std::string(port.LastError()), pty.slavePath() + ": in use by another program");
  EXPECT_EQ(port.LastPortError().kind, PortErrorKind::InUse);
  EXPECT_EQ(port.LastPortError().code, EWOULDBLOCK);
  EXPECT_EQ(port.LastPortError().holderPid, 0);  // the lock does not say whose it is
  EXPECT_EQ(OpenAdvice(pty.slavePath(), port.LastPortError()).rfind("close the program that holds it", 0), 0u);
  EXPECT_FALSE(holder.Exclusive());

  ASSERT_EQ(::flock(holder.fd(), LOCK_UN), 0);
  EXPECT_TRUE(link.OpenPort("COM1")) << port.LastError();
}

void ExpectError(const PosixSerialPort& port, PortErrorKind kind, long code) {
  EXPECT_EQ(port.LastPortError().kind, kind) << port.LastError();
  EXPECT_EQ(port.LastPortError().code, code) << port.LastError();
}

TEST(PosixSerialPortOpen, NameWithNoTerminalBehindItFails) {
  const std::string file =
      (std::filesystem::temp_directory_path() / ("tarnwick-plain-" + std::to_string(::getpid()))).string();
  std::ofstream(file) << "not a terminal\n";
  PortMap map;
  map.devices = {"/nonexistent/ttyUSB9", "", "/dev/null", "/"};
  PosixSerialPort port(map);
  EXPECT_FALSE(port.Open("COM1"));
  EXPECT_EQ(std::string(port.LastError()), "/nonexistent/ttyUSB9: No such file or directory");
  ExpectError(port, PortErrorKind::NotFound, ENOENT);
  EXPECT_FALSE(port.Open("COM2"));
  EXPECT_EQ(std::string(port.LastError()), "no serial device is mapped to COM2");
  ExpectError(port, PortErrorKind::NotFound, 0);
  EXPECT_FALSE(port.Open("COM3"));
  EXPECT_EQ(std::string(port.LastError()), "/dev/null: not a serial port");
  ExpectError(port, PortErrorKind::NotATerminal, ENOTTY);
  EXPECT_FALSE(port.Open(file.c_str()));
  EXPECT_EQ(std::string(port.LastError()), file + ": not a serial port");
  ExpectError(port, PortErrorKind::NotATerminal, ENOTTY);
  EXPECT_FALSE(port.Open("COM4"));
  ExpectError(port, PortErrorKind::Other, EISDIR);
  EXPECT_FALSE(port.Open("COM9"));
  EXPECT_EQ(std::string(port.LastError()), "no serial device is mapped to COM9");
  std::filesystem::remove(file);

  // A port that never opened reads and writes nothing.
  std::uint8_t byte = 0;
  EXPECT_EQ(port.BytesWaiting(), 0u);
  EXPECT_EQ(port.Read(&byte, 1), 0u);
  EXPECT_EQ(port.Write(&byte, 1), -1);
}

// A port this user may not open: the refusal is told as a lack of permission,
// with the group to join. The superuser may open anything, so the open is
// tried by a child that has given up being the superuser; an ordinary user
// is kept off the terminal by its mode.
TEST_F(PosixLinkTest, PortThisUserMayNotOpenIsAPermissionError) {
  struct stat info {};
  ASSERT_EQ(::stat(pty.slavePath().c_str(), &info), 0);
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(report[0]);
    const bool dropped = ::geteuid() == 0 ? ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0
                                          : ::chmod(pty.slavePath().c_str(), 0) == 0;
    std::string text = "could not give up the right to open the terminal";
    if (dropped) {
      PosixSerialPort denied(MapCom1To(pty.slavePath()));
      const bool opened = denied.Open("COM1");
      const PortError error = denied.LastPortError();
      text = std::string(opened ? "opened" : "refused") + "|" + std::to_string(static_cast<int>(error.kind)) + "|" +
             std::to_string(error.code) + "|" + WithPermissionHint(denied, denied.LastError()) + "|" +
             WithPermissionHint(denied, "another detail") + "|" + OpenAdvice(pty.slavePath(), error);
    }
    (void)!::write(report[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(report[1]);
  std::string got;
  char buffer[512];
  for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
  ::close(report[0]);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  ::chmod(pty.slavePath().c_str(), info.st_mode & 07777);

  const group* owner = ::getgrgid(info.st_gid);
  ASSERT_NE(owner, nullptr);
  const std::string detail = pty.slavePath() + ": " + std::strerror(EACCES);
  const std::string advice = "your user must be in group \"" + std::string(owner->gr_name) + "\", which owns " +
                             pty.slavePath() + ": sudo usermod -aG " + owner->gr_name + " \"$USER\", then log in again";
  std::string hinted = advice;
  hinted[0] = 'Y';
  EXPECT_EQ(got, "refused|" + std::to_string(static_cast<int>(PortErrorKind::PermissionDenied)) + "|" +
                     std::to_string(EACCES) + "|" + detail + ". " + hinted + ".|another detail|" + advice);
}

}  // namespace
}  // namespace tarnwick
