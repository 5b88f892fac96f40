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

// Failed comparisons show a JSON value as its text.
namespace nlohmann {
inline void PrintTo(const json& value, std::ostream* out) { *out << value.dump(); }
}  // namespace nlohmann

namespace tarnwick::testing {

// One line of JSON Lines, parsed by a strict parser. A line that is not one
// JSON object fails the test that read it (and gives an empty object).
inline nlohmann::json ParseJson(const std::string& line) {
  nlohmann::json parsed = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    ADD_FAILURE() << "not a JSON object: " << line;
    return nlohmann::json::object();
  }
  return parsed;
}

inline std::vector<nlohmann::json> ParseJsonLines(const std::vector<std::string>& lines) {
  std::vector<nlohmann::json> parsed;
  for (const std::string& line : lines) parsed.push_back(ParseJson(line));
  return parsed;
}

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
