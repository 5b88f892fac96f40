// tarnwick-device against a host built on the program's own SerialLink and
// POSIX serial port: a whole 64 KiB image, then the same image one byte off.
#include <gtest/gtest.h>

#include <memory>

#include "device_tool_harness.h"
#include "posix_serial_port.h"
#include "programmer_state.h"
#include "serial_link.h"

namespace tarnwick::testing {
namespace {

// Serves `image` through SerialLink as the host's block server does, polling
// every few milliseconds, until the device's result; returns its status.
std::optional<std::uint8_t> ProgramOverSerialLink(SerialLink& link, const Bytes& image) {
  auto state = std::make_unique<ProgrammerState>();
  FrameParser parser;
  std::uint32_t blockCounter = 0;
  link.SendHandshake();
  for (const auto end = steady_clock::now() + 60s; steady_clock::now() < end; std::this_thread::sleep_for(2ms)) {
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
  link.ConfigurePort();

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

}  // namespace
}  // namespace tarnwick::testing
