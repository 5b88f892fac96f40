// The simulated device tool run as a child process; the first line of its
// output is the path of its serial end.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "child_process.h"

namespace tarnwick::testing {

class DeviceProcess : public ChildProcess {
 public:
  DeviceProcess(const std::string& tool, const std::vector<std::string>& arguments,
                const std::string& errorsFile = {})
      : ChildProcess(tool, arguments, errorsFile) {}

  // The first line of its output: the path of its serial end; empty if none comes.
  std::string serialPath() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Output().find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline &&
           ReadOutput(std::chrono::milliseconds(20)) >= 0) {
    }
    const auto end = Output().find('\n');
    return end == std::string::npos ? std::string() : Output().substr(0, end);
  }
};

}  // namespace tarnwick::testing
