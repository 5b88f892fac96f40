// What the tests that run tarnwick-cli against the simulated device share: a
// folder of their own, an image packed from random bytes, devices on
// pseudo-terminals checking what they receive, and the command line itself.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli_process.h"
#include "device_process.h"
#include "temp_dir.h"

namespace tarnwick::testing {

class CliFixture : public ::testing::Test {
 protected:
  // Writes a random raw image of `length` bytes and its .UPL.
  void MakeImage(std::size_t length, std::uint32_t seed) {
    raw = RandomBytes(length, seed);
    WriteBytes(dir.File("raw.bin"), raw);
    const std::string command = std::string(TARNWICK_PACK) + " " + dir.File("raw.bin") + " " + image();
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  std::string image() const { return dir.File("IMAGE.UPL"); }

  // A device checking what it receives against the raw image; returns its line.
  std::string StartDevice(std::vector<std::string> options) {
    options.insert(options.end(), {"--expect", dir.File("raw.bin")});
    devices.push_back(std::make_unique<DeviceProcess>(TARNWICK_DEVICE, options,
                                                      dir.File("device" + std::to_string(devices.size()) + ".err")));
    const std::string path = devices.back()->serialPath();
    EXPECT_FALSE(path.empty()) << "the device tool did not start";
    return path;
  }
  // The same, unpaced: bytes go as fast as the pseudo-terminal takes them.
  std::string StartFastDevice(std::vector<std::string> options) {
    options.insert(options.end(), {"--baud", "0"});
    return StartDevice(std::move(options));
  }

  std::unique_ptr<CliProcess> Cli(const std::vector<std::string>& arguments) {
    return std::make_unique<CliProcess>(arguments, dir.File("cli" + std::to_string(++clis) + ".err"));
  }

  TempDir dir;
  std::vector<std::uint8_t> raw;
  std::vector<std::unique_ptr<DeviceProcess>> devices;
  int clis = 0;
};

}  // namespace tarnwick::testing
