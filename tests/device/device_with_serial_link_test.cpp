// tarnwick-device against a host built on the program's own SerialLink and
// POSIX serial port: a whole 64 KiB image, then the same image one byte off.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <functional>
#include <memory>

#include "device_tool_harness.h"
#include "posix_serial_port.h"
#include "programmer_state.h"
#include "serial_link.h"

namespace tarnwick::testing {
namespace {

// Serves `image` through SerialLink as the host's block server does, polling
// every few milliseconds, until the device's result; returns its status.
// `meanwhile` runs between polls.
std::optional<std::uint8_t> ProgramOverSerialLink(SerialLink& link, const Bytes& image,
                                                  const std::function<void()>& meanwhile = {}) {
  auto state = std::make_unique<ProgrammerState>();
  FrameParser parser;
  std::uint32_t blockCounter = 0;
  link.SendHandshake();
  for (const auto end = steady_clock::now() + 60s; steady_clock::now() < end; std::this_thread::sleep_for(2ms)) {
    if (meanwhile) meanwhile();
    const std::uint32_t count = link.PollReceive(*state);
    for (std::uint32_t i = 0; i < count; ++i) {
      if (!parser.Feed(*state, state->rxBytes[i])) continue;
      const std::uint8_t body = state->rxPacket[2];
      if (state->rxPacket[0] == kCommandResult) return body;
      if (body == (blockCounter & 0x3F)) ++blockCounter;
      const Bytes frame = Block(image, blockCounter - 1, body);
      link.SendFrame(WriteChannel::Block, frame.data(), frame.size());
    }
  }
  return std::nullopt;
}

// What a second program gets that opens the line without any lock, as a
// terminal program would: 0 when it opens, or the error it is refused with.
// It runs as an ordinary user: the superuser is let past the exclusive mark.
int SecondProgramOpening(const std::string& path) {
  if (geteuid() == 0 && chmod(path.c_str(), 0666) != 0) return -1;
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(255);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    _exit(fd >= 0 ? 0 : errno);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(DeviceWithSerialLinkTest, Receives65536BytesWholeAndTellsAOneByteMismatch) {
  TempDir dir;
  Bytes raw = RandomBytes(65536, 31);
  WriteBytes(dir.File("raw.bin"), raw);
  DeviceTool device({"--baud", "0", "--runs", "2", "--expect", dir.File("raw.bin")}, dir);
  PortMap map;
  map.devices[0] = device.serialPath();
  PosixSerialPort port(map);
  SerialLink link(port);
  ASSERT_TRUE(link.OpenPort("COM1")) << port.LastError() << device.Errors();
  ASSERT_TRUE(link.ConfigurePort()) << port.LastError();

  EXPECT_EQ(ProgramOverSerialLink(link, raw), 0x00);
  raw[40000] = static_cast<std::uint8_t>(raw[40000] + 1);
  EXPECT_EQ(ProgramOverSerialLink(link, raw), 0x00);
  link.ClosePort();

  EXPECT_EQ(device.WaitForExit(), 1);
  EXPECT_TRUE(device.Said("run 1: 65536 bytes received whole, result 0 (513 requests, 0 bad frames, 0 time-outs)\n"
                          "run 1: image equals"))
      << device.Output();
  EXPECT_TRUE(device.Said("run 2: image differs from " + dir.File("raw.bin") +
                          ": 65536 bytes received, 65536 expected, first difference at byte 40000"))
      << device.Output();
}

// The host holds the line for a whole run, over many of the device's looks at
// the line: its exclusive mark stays on all the while and a second program is
// refused. Closed, the line is free again.
TEST(DeviceWithSerialLinkTest, SecondProgramIsRefusedTheLineForAsLongAsTheHostHoldsIt) {
  TempDir dir;
  const Bytes raw = RandomBytes(65536, 32);
  DeviceTool device({"--baud", "0", "--runs", "1"}, dir);
  const std::string path = device.serialPath();
  PortMap map;
  map.devices[0] = path;
  PosixSerialPort port(map);
  SerialLink link(port);
  ASSERT_TRUE(link.OpenPort("COM1")) << port.LastError() << device.Errors();
  ASSERT_TRUE(link.ConfigurePort()) << port.LastError();

  std::vector<int> refusals;
  auto lastLook = steady_clock::now();
  const auto start = lastLook;
  EXPECT_EQ(ProgramOverSerialLink(link, raw, [&] {
              if (steady_clock::now() - lastLook < 100ms) return;
              refusals.push_back(SecondProgramOpening(path));
              lastLook = steady_clock::now();
            }),
            0x00);
  ASSERT_GE(steady_clock::now() - start, 500ms) << "the run was over before the device had looked twice";
  ASSERT_GE(refusals.size(), 4u);
  EXPECT_EQ(refusals, std::vector<int>(refusals.size(), EBUSY)) << "0 is a second program that opened the line";

  link.ClosePort();
  EXPECT_EQ(SecondProgramOpening(path), 0);
  EXPECT_EQ(device.WaitForExit(), 0) << device.Output();
}

// A host killed while it holds the line cannot clear its mark, and the
// device's own descriptor keeps the mark alive: the device clears it once no
// host holds the line, so the next host opens.
TEST(DeviceWithSerialLinkTest, MarkOfAHostKilledWhileHoldingTheLineIsCleared) {
  TempDir dir;
  DeviceTool device({"--baud", "0", "--runs", "1"}, dir);
  const std::string path = device.serialPath();
  PortMap map;
  map.devices[0] = path;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t host = fork();
  ASSERT_GE(host, 0);
  if (host == 0) {
    PosixSerialPort held(map);
    const char byte = held.Open("COM1") && held.Configure() ? 'y' : 'n';
    (void)!write(ready[1], &byte, 1);
    for (;;) pause();
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(SecondProgramOpening(path), EBUSY);
  kill(host, SIGKILL);
  ASSERT_EQ(waitpid(host, nullptr, 0), host);

  int opened = -1;
  for (const auto end = steady_clock::now() + 3s; opened != 0 && steady_clock::now() < end;) {
    std::this_thread::sleep_for(50ms);
    opened = SecondProgramOpening(path);
  }
  EXPECT_EQ(opened, 0) << "the killed host's mark is still on the line";
  PosixSerialPort next(map);
  SerialLink link(next);
  ASSERT_TRUE(link.OpenPort("COM1")) << next.LastError();
  ASSERT_TRUE(link.ConfigurePort()) << next.LastError();
  EXPECT_EQ(ProgramOverSerialLink(link, RandomBytes(300, 33)), 0x00);
  link.ClosePort();
  EXPECT_EQ(device.WaitForExit(), 0) << device.Output();
}

}  // namespace
}  // namespace tarnwick::testing
