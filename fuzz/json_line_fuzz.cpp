// The JSON writer of tarnwick-cli's lines and run log: any bytes in, one line
// of valid JSON out (read back by a strict parser), valid UTF-8 carried
// unchanged, and every other string's exact bytes in its _hex member.
//
// Input: a byte of decimals, 8 bytes of a double, then the string's bytes
// (zero bytes included); the string is written whole at the top level and,
// cut in half, in a nested object, as the run log writes image.path.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "json_line.h"
#include "run_record.h"

namespace {

using nlohmann::json;
using tarnwick::station::IsValidUtf8;
using tarnwick::station::JsonLine;
using tarnwick::fuzz::Check;
using tarnwick::fuzz::Hex;

// The parser's own UTF-8 check, for comparison: dumping a string that is not
// UTF-8 throws.
bool ParserCallsItUtf8(std::string_view text) {
  try {
    (void)json(std::string(text)).dump();
    return true;
  } catch (const json::type_error&) {
    return false;
  }
}

// `object[key]` holds `value`: unchanged when it is UTF-8, else readable with
// its exact bytes in key_hex.
void CheckString(const json& object, const std::string& key, std::string_view value) {
  Check(object.contains(key) && object.at(key).is_string(), "a string member is missing");
  const std::string& written = object.at(key).get_ref<const std::string&>();
  if (IsValidUtf8(value)) {
    Check(written == value, "valid UTF-8 did not come back unchanged");
    Check(!object.contains(key + "_hex"), "a _hex member for a valid string");
    return;
  }
  Check(object.contains(key + "_hex") && object.at(key + "_hex") == Hex(value),
        "the _hex member does not hold the string's bytes");
  Check(written.find("\xEF\xBF\xBD") != std::string::npos, "an invalid string reads without U+FFFD");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarnwick::fuzz::InputReader input(data, size);
  const int decimals = input.Byte() % 20;
  const tarnwick::fuzz::Bytes numberBytes = input.Take(8);
  double number = 0;
  if (!numberBytes.empty()) std::memcpy(&number, numberBytes.data(), numberBytes.size());
  const tarnwick::fuzz::Bytes rest = input.Take(input.Remaining());
  const std::string_view value(reinterpret_cast<const char*>(rest.data()), rest.size());
  const std::string_view half = value.substr(value.size() / 2);

  Check(IsValidUtf8(value) == ParserCallsItUtf8(value), "IsValidUtf8 and the parser disagree");

  JsonLine line;
  line.String("event", "result").String("value", value);
  line.Begin("image").String("path", half).Unsigned("bytes", rest.size()).End();
  line.Number("seconds", number, decimals).Null("by_id");
  const std::string text = line.Finish();
  Check(text.size() == line.length(), "length() is not the line's length");
  Check(!text.empty() && text.find('\n') == text.size() - 1, "not one line ended by a newline");

  const json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
  Check(!parsed.is_discarded() && parsed.is_object(), "the line is not a JSON object");
  Check(parsed.at("event") == "result", "event lost");
  CheckString(parsed, "value", value);
  Check(parsed.contains("image") && parsed.at("image").is_object(), "the nested object is missing");
  CheckString(parsed.at("image"), "path", half);
  Check(parsed.at("image").at("bytes") == rest.size(), "a number after a string is wrong");
  Check(parsed.at("by_id").is_null(), "null lost");
  if (!std::isfinite(number)) {
    Check(parsed.at("seconds").is_null(), "a number that is not finite is not null");
  } else {
    Check(parsed.at("seconds").is_number(), "a finite number is not a number");
    const double back = parsed.at("seconds").get<double>();
    const double tolerance = 0.5 * std::pow(10.0, -std::min(decimals, 17)) + 1e-15 * std::fabs(number);
    Check(std::fabs(back - number) <= tolerance || std::fabs(number) > 1e300, "a number came back changed");
  }

  // Cleared, the same line holds the next object alone.
  line.Clear();
  line.String("value", value);
  const json again = json::parse(line.Finish(), nullptr, false);
  Check(!again.is_discarded() && again.size() == (IsValidUtf8(value) ? 1u : 2u), "Clear left something behind");
  return 0;
}
