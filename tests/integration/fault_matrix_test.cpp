// Seeded runs of the real engine and POSIX port against the simulated device
// on a pseudo-terminal, with faults on the line in both directions (up to 15%
// of the device's bytes damaged), a device that answers late, one that never
// answers, one killed mid-run, one that hangs up and one that reports failure. Whatever happens, a run ends with the image received bit for bit
// and success, or with a failure the operator is told of: never success with
// a wrong image, never a hang.
//
// TARNWICK_MATRIX_SEEDS sets how many seeds (50 by default);
// scripts/fault-matrix.sh runs many more and counts how the runs ended.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device_process.h"
#include "engine_fakes.h"
#include "posix_image_file.h"
#include "posix_serial_port.h"
#include "run_machine.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::DeviceProcess;
using testing::RecordingWindow;
using testing::TempDir;

// Ticks five times faster than the dialog's, so the 100-tick stall notice
// comes after 2 s: still longer than the device's 1 s wait before it asks again.
constexpr auto kTick = 20ms;
constexpr auto kCaseLimit = 60s;

struct Scenario {
  std::string kind;
  std::size_t imageLength = 0;
  std::vector<std::string> deviceOptions;
  std::chrono::milliseconds killAfter{0};  // 0: the device is not killed
  bool deviceReportsFailure = false;      // the device ends every run with status 2
};

std::string Rate(std::mt19937& random, double maximum) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", std::uniform_real_distribution<double>(0.0, maximum)(random));
  return text;
}

// Faults in both directions. Flipped bits on the way to the device stay rare:
// two flips that cancel in one block frame pass the device's 8-bit sum, which
// no host can help.
std::vector<std::string> MixedFaults(std::mt19937& random) {
  return {"--corrupt",      Rate(random, 0.0001), "--drop",      Rate(random, 0.002),
          "--noise",        Rate(random, 0.1),    "--repeat",    Rate(random, 0.1),
          "--corrupt-sent", Rate(random, 0.02),   "--drop-sent", Rate(random, 0.02)};
}

Scenario MakeScenario(unsigned seed) {
  std::mt19937 random(seed);
  Scenario scenario;
  // Up to 16 blocks; every fourth image ends on a block boundary.
  scenario.imageLength = random() % 2049;
  if (seed % 4 == 0) scenario.imageLength -= scenario.imageLength % kBlockSize;
  std::vector<std::string>& options = scenario.deviceOptions;
  options = {"--seed", std::to_string(seed)};
  switch (seed % 10) {
    case 0:
      scenario.kind = "silent device";
      options.push_back("--silent");
      break;
    case 1:
      scenario.kind = "device killed";
      scenario.killAfter = std::chrono::milliseconds(100 + random() % 900);
      break;
    case 2: {
      scenario.kind = "far end closed";
      const std::size_t blocks = scenario.imageLength / kBlockSize;
      options.insert(options.end(), {"--hang-up-after", std::to_string(blocks == 0 ? 0 : random() % blocks)});
      break;
    }
    case 3: {
      scenario.kind = "late answer";
      options.insert(options.end(), {"--answer-after", std::to_string(2 + random() % 4)});
      const auto faults = MixedFaults(random);
      options.insert(options.end(), faults.begin(), faults.end());
      break;
    }
    case 4:
    case 5: {
      // What the device sends is damaged heavily; a result must be whole to count.
      scenario.kind = seed % 10 == 4 ? "damaged device frames" : "damaged failure report";
      options.insert(options.end(), {"--corrupt-sent", Rate(random, 0.15), "--drop-sent", Rate(random, 0.02)});
      if (seed % 10 == 5) {
        scenario.deviceReportsFailure = true;
        options.insert(options.end(), {"--status", "2"});
      }
      break;
    }
    default: {
      scenario.kind = "mixed faults";
      const auto faults = MixedFaults(random);
      options.insert(options.end(), faults.begin(), faults.end());
      break;
    }
  }
  return scenario;
}

unsigned SeedCount() {
  const char* text = std::getenv("TARNWICK_MATRIX_SEEDS");
  const unsigned count = text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : 0;
  return count > 0 ? count : 50;
}

class FaultMatrixTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(FaultMatrixTest, EndsInSuccessWithTheImageOrAReportedFailure) {
  const unsigned seed = GetParam();
  const Scenario scenario = MakeScenario(seed);
  TempDir dir;
  const Bytes image = testing::RandomBytes(scenario.imageLength, seed + 1000);
  testing::WriteBytes(dir.File("image.bin"), image);
  std::vector<std::string> options = {"--baud", "0", "--runs", "1", "--out", dir.File("received.bin"),
                                      "--expect", dir.File("image.bin")};
  options.insert(options.end(), scenario.deviceOptions.begin(), scenario.deviceOptions.end());
  DeviceProcess device(TARNWICK_DEVICE, options, dir.File("device.log"));
  const std::string serialPath = device.serialPath();
  ASSERT_FALSE(serialPath.empty()) << "the device tool did not start";

  PortMap map;
  map.devices = {serialPath, dir.File("no-such-port-2"), dir.File("no-such-port-3"), dir.File("no-such-port-4")};
  PosixSerialPort port(map);
  PosixImageFile imageFile;
  RecordingWindow window;
  auto engine = std::make_unique<ProgrammerEngine>(port, window, imageFile);
  engine->OnInitDialog();
  std::copy(image.begin(), image.end(), engine->state().imageData.begin());
  engine->state().imageLength = static_cast<std::uint32_t>(image.size());
  engine->OnProgram();

  const auto start = std::chrono::steady_clock::now();
  auto next = start;
  bool killed = false;
  while (window.messages.empty() && !engine->stallNoticeShown() && std::chrono::steady_clock::now() - start < kCaseLimit) {
    next += kTick;
    std::this_thread::sleep_until(next);
    if (scenario.killAfter.count() > 0 && !killed && std::chrono::steady_clock::now() - start >= scenario.killAfter) {
      device.Signal(SIGKILL);
      killed = true;
    }
    if (window.timerRunning && !window.destroyed) engine->OnTimer();
  }

  std::string ending;
  if (!window.messages.empty()) {
    ending = window.messages.front().text;
  } else if (engine->stallNoticeShown()) {
    ending = "stall notice";
  }
  std::cout << "fault-matrix seed " << seed << " (" << scenario.kind << ", " << scenario.imageLength
            << " bytes): " << (ending.empty() ? "no ending" : ending) << std::endl;
  ASSERT_FALSE(ending.empty()) << "the run neither ended nor was reported within " << kCaseLimit.count() << " s";
  engine->OnExit();
  // What the device said of the run, for the record.
  std::string report = device.WaitForExit(3s) < 0 ? std::string("(still running)\n")
                                                  : device.Output().substr(device.Output().find('\n') + 1);
  if (report.empty() || report.back() != '\n') report += '\n';
  std::cout << "  device: " << report << std::flush;

  if (scenario.deviceReportsFailure) {
    EXPECT_NE(engine->lastOutcome(), RunOutcome::Success) << "success reported for a device that reported failure";
  }
  if (engine->lastOutcome() == RunOutcome::Success) {
    // The device writes what it received once the run is over.
    EXPECT_EQ(device.WaitForExit(10s), 0) << device.Output() << device.Errors();
    EXPECT_EQ(testing::ReadBytes(dir.File("received.bin")), image) << "success with a wrong image";
  } else {
    const bool reported = engine->lastOutcome() != RunOutcome::None || engine->stallNoticeShown();
    EXPECT_TRUE(reported) << ending;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, FaultMatrixTest, ::testing::Range(0u, SeedCount()));

}  // namespace
}  // namespace tarnwick
