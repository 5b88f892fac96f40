// Whole programming runs without a window: the engine, the POSIX serial port
// and the simulated device on a real pseudo-terminal, ticks driven here.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "device_process.h"
#include "engine_fakes.h"
#include "posix_serial_port.h"
#include "pty_pair.h"
#include "run_machine.h"
#include "simulated_device.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::DeviceProcess;
using testing::RecordingWindow;
using testing::TempDir;

class EndToEndTest : public ::testing::Test {
 protected:
  // Starts the device with `options` and an engine whose COM1 and COM2 lead
  // nowhere and whose COM3 is the device's pseudo-terminal.
  void StartDevice(const Bytes& image, std::vector<std::string> options) {
    testing::WriteBytes(dir.File("expected.bin"), image);
    options.insert(options.end(), {"--expect", dir.File("expected.bin"), "--out", dir.File("received.bin")});
    device = std::make_unique<DeviceProcess>(TARNWICK_DEVICE, options);
    ASSERT_FALSE(device->serialPath().empty()) << "the device tool did not start";
    PortMap map;
    map.devices = {dir.File("no-such-port-1"), dir.File("no-such-port-2"), device->serialPath(), ""};
    port = std::make_unique<PosixSerialPort>(map);
    engine = std::make_unique<ProgrammerEngine>(*port, window, imageFile);
    engine->OnInitDialog();
    std::copy(image.begin(), image.end(), engine->state().imageData.begin());
    engine->state().imageLength = static_cast<std::uint32_t>(image.size());
  }

  // Presses Program and ticks every `period` until the run ends; true on the success box.
  bool Run(std::chrono::milliseconds period, std::chrono::seconds limit) {
    const auto messagesBefore = window.messages.size();
    engine->OnProgram();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto next = std::chrono::steady_clock::now();
    while (window.messages.size() == messagesBefore && std::chrono::steady_clock::now() < deadline) {
      next += period;
      std::this_thread::sleep_until(next);
      if (window.timerRunning) engine->OnTimer();
    }
    return window.messages.size() > messagesBefore && window.messages.back().text == kTextSucceeded;
  }

  TempDir dir;
  RecordingWindow window;
  PosixImageFile imageFile;
  std::unique_ptr<DeviceProcess> device;
  std::unique_ptr<PosixSerialPort> port;
  std::unique_ptr<ProgrammerEngine> engine;
};

TEST_F(EndToEndTest, FullImageAndSecondRunOnTheSamePort) {
  const Bytes image = testing::RandomBytes(65536, 21);
  StartDevice(image, {"--baud", "0", "--runs", "2"});
  ASSERT_TRUE(Run(2ms, 120s)) << "status: " << window.status;
  EXPECT_EQ(window.readouts[IdBytesSent], 65536u);
  EXPECT_EQ(window.progressPosition, 65536u);
  EXPECT_NE(std::find(window.statuses.begin(), window.statuses.end(), "Error Open COM1 !"), window.statuses.end());
  EXPECT_NE(std::find(window.statuses.begin(), window.statuses.end(), "Connected"), window.statuses.end());
  EXPECT_EQ(testing::ReadBytes(dir.File("received.bin")), image);

  // The device-seen course: no scan, the port of the first run.
  const auto opensBefore = window.statuses.size();
  ASSERT_TRUE(Run(2ms, 120s)) << "status: " << window.status;
  EXPECT_EQ(std::count(window.statuses.begin() + static_cast<std::ptrdiff_t>(opensBefore), window.statuses.end(),
                       "Connected"),
            0);
  EXPECT_EQ(device->WaitForExit(10s), 0) << "the device must have received both images whole";
}

TEST_F(EndToEndTest, ThousandBytes) {
  const Bytes image = testing::RandomBytes(1000, 22);
  StartDevice(image, {"--baud", "0", "--runs", "1"});
  ASSERT_TRUE(Run(2ms, 60s)) << "status: " << window.status;
  EXPECT_EQ(window.readouts[IdBytesSent], 1000u);
  EXPECT_EQ(device->WaitForExit(10s), 0);
  EXPECT_EQ(testing::ReadBytes(dir.File("received.bin")), image);
}

TEST_F(EndToEndTest, RealTickPeriodAndLineSpeed) {
  const Bytes image = testing::RandomBytes(300, 23);
  StartDevice(image, {"--baud", "4800", "--runs", "1"});
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(Run(100ms, 60s)) << "status: " << window.status;
  // COM1 and COM2 fail (4 ticks), COM3 is found: a few ticks more, then three blocks at 4800 baud.
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
  EXPECT_EQ(device->WaitForExit(10s), 0);
  EXPECT_EQ(testing::ReadBytes(dir.File("received.bin")), image);
}

TEST_F(EndToEndTest, DeviceReportsAMismatchWhenTheImageDiffers) {
  Bytes image = testing::RandomBytes(1000, 24);
  StartDevice(image, {"--baud", "0", "--runs", "1"});
  engine->state().imageData[517] ^= 0x01;  // what the host sends differs by one bit
  ASSERT_TRUE(Run(2ms, 60s));
  EXPECT_NE(device->WaitForExit(10s), 0);
}

// A run cut short leaves the device asking for its block again and again,
// and its requests wait on the line for the next host. The next run starts
// clean and programs the image whole: answered, those requests would have
// had the device take wrong blocks until it gave up on its first.
TEST(EndToEndStaleLineTest, RunAfterOneCutShortIgnoresTheRequestsLeftOnTheLine) {
  testing::PtyPair pty;
  ASSERT_TRUE(pty.ok() && pty.HoldSerialEnd()) << "no pseudo-terminal";
  Bytes stale;
  for (int i = 0; i < device::kDefaultTriesPerBlock + 2; ++i) {
    const Bytes request = testing::Request(3);
    stale.insert(stale.end(), request.begin(), request.end());
  }
  pty.DeviceSends(stale);
  ASSERT_TRUE(testing::PtyPair::WaitUntil([&] { return pty.WaitingAtSerialEnd() == stale.size(); }));

  // The device as tarnwick-device serves it, driven here on the master side.
  device::SimulatedDevice simulated(device::DeviceSettings{});
  const auto start = std::chrono::steady_clock::now();
  const auto serveDevice = [&] {
    const auto now = std::chrono::duration_cast<device::LineTime>(std::chrono::steady_clock::now() - start);
    const Bytes received = pty.DeviceReceives();
    simulated.Receive(received.data(), received.size(), now);
    simulated.Advance(now);
    for (const auto& frame : simulated.TakeFrames()) pty.DeviceSends(frame);
  };

  const Bytes image = testing::RandomBytes(1000, 25);
  PortMap map;
  map.devices = {pty.slavePath(), "", "", ""};
  PosixSerialPort port(map);
  RecordingWindow window;
  PosixImageFile imageFile;
  ProgrammerEngine engine(port, window, imageFile);
  engine.OnInitDialog();
  std::copy(image.begin(), image.end(), engine.state().imageData.begin());
  engine.state().imageLength = static_cast<std::uint32_t>(image.size());
  engine.OnProgram();
  for (const auto end = start + 30s; window.messages.empty() && std::chrono::steady_clock::now() < end;) {
    std::this_thread::sleep_for(2ms);
    serveDevice();
    if (window.timerRunning) engine.OnTimer();
  }
  ASSERT_FALSE(window.messages.empty()) << "status: " << window.status;
  EXPECT_EQ(window.messages.back().text, kTextSucceeded) << "status: " << window.status;
  const auto runs = simulated.TakeFinishedRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].whole) << runs[0].failure;
  EXPECT_EQ(runs[0].badFrames, 0u);
  EXPECT_EQ(runs[0].image, image);
}

}  // namespace
}  // namespace tarnwick
