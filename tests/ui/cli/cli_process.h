// tarnwick-cli run as a child process: its standard output is read as it
// comes (so a test can act mid-run), its standard error goes to a file.
#pragma once

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "json_lines.h"

namespace tarnwick::testing {

class CliProcess : public ChildProcess {
 public:
  CliProcess(const std::vector<std::string>& arguments, const std::string& errorsFile)
      : ChildProcess(TARNWICK_CLI, arguments, errorsFile) {}

  // Reads until the output holds `count` copies of `text`; false after `limit`.
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit, std::size_t count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Count(text) < count) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      if (ReadOutput(std::chrono::milliseconds(20)) < 0) return Count(text) >= count;
    }
    return true;
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(Output());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Every line of the output, each parsed as JSON (see ParseJson).
  std::vector<nlohmann::json> JsonLines() const { return ParseJsonLines(Lines()); }

 private:
  std::size_t Count(const std::string& text) const {
    std::size_t found = 0;
    for (std::size_t at = Output().find(text); at != std::string::npos; at = Output().find(text, at + text.size())) {
      ++found;
    }
    return found;
  }
};

}  // namespace tarnwick::testing
