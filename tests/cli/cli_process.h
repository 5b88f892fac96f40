// tarnwick-cli run as a child process: its standard output is read as it
// comes (so a test can act mid-run), its standard error goes to a file.
#pragma once

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

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

 private:
  std::size_t Count(const std::string& text) const {
    std::size_t found = 0;
    for (std::size_t at = Output().find(text); at != std::string::npos; at = Output().find(text, at + text.size())) {
      ++found;
    }
    return found;
  }
};

// The raw text of `key`'s value in a one-line JSON object: a string without
// its quotes (escapes left as they are), a number, true, false, null, or a
// nested object in braces; empty when the key is not there.
inline std::string JsonField(const std::string& line, const std::string& key) {
  const std::string pattern = "\"" + key + "\":";
  const std::size_t at = line.find(pattern);
  if (at == std::string::npos) return {};
  std::size_t start = at + pattern.size();
  if (start >= line.size()) return {};
  if (line[start] == '"') {
    std::size_t end = start + 1;
    while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2u : 1u;
    return line.substr(start + 1, end - start - 1);
  }
  if (line[start] == '{') {
    int depth = 0;
    std::size_t end = start;
    for (; end < line.size(); ++end) {
      if (line[end] == '{') ++depth;
      if (line[end] == '}' && --depth == 0) break;
    }
    return line.substr(start, end - start + 1);
  }
  std::size_t end = start;
  while (end < line.size() && line[end] != ',' && line[end] != '}') ++end;
  return line.substr(start, end - start);
}

}  // namespace tarnwick::testing
