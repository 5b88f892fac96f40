// JSON Lines as the tests read them: every line parsed by a strict parser.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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

}  // namespace tarnwick::testing
