#include "json_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarnwick::station {
namespace {

std::size_t initialCapacity = 2048;

// The length of the valid UTF-8 sequence that starts `text`, or 0 when its
// first byte starts none.
std::size_t SequenceLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continuation = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  const unsigned char first = byte(0);
  if (first < 0x80) return 1;
  if (first >= 0xC2 && first <= 0xDF) return continuation(1) ? 2 : 0;
  if (first >= 0xE0 && first <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    // E0 80..9F would be overlong; ED A0..BF a surrogate.
    if (first == 0xE0 && byte(1) < 0xA0) return 0;
    if (first == 0xED && byte(1) > 0x9F) return 0;
    return 3;
  }
  if (first >= 0xF0 && first <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    // F0 80..8F would be overlong; F4 90..BF above U+10FFFF.
    if (first == 0xF0 && byte(1) < 0x90) return 0;
    if (first == 0xF4 && byte(1) > 0x8F) return 0;
    return 4;
  }
  return 0;  // a continuation byte, C0, C1 or F5..FF
}

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = SequenceLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

void JsonLine::SetInitialCapacity(std::size_t bytes) { initialCapacity = bytes; }
std::size_t JsonLine::InitialCapacity() { return initialCapacity; }

JsonLine::JsonLine() {
  text_.reserve(initialCapacity);
  Clear();
}

void JsonLine::Clear() {
  text_.clear();
  needComma_ = false;
  depth_ = 1;
  text_.push_back('{');
}

void JsonLine::Reserve(std::size_t bytes) { text_.reserve(bytes); }

void JsonLine::Escaped(std::string_view text, bool& lossy) {
  text_.push_back('"');
  while (!text.empty()) {
    const std::size_t length = SequenceLength(text);
    if (length == 0) {
      text_.append("\xEF\xBF\xBD");  // U+FFFD for the byte; _hex keeps it
      lossy = true;
      text.remove_prefix(1);
      continue;
    }
    if (length > 1) {
      text_.append(text.data(), length);
      text.remove_prefix(length);
      continue;
    }
    const auto c = static_cast<unsigned char>(text.front());
    text.remove_prefix(1);
    switch (c) {
      case '"':
        text_.append("\\\"");
        break;
      case '\\':
        text_.append("\\\\");
        break;
      case '\n':
        text_.append("\\n");
        break;
      case '\r':
        text_.append("\\r");
        break;
      case '\t':
        text_.append("\\t");
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          const char escape[] = {'\\', 'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 0xF]};
          text_.append(escape, sizeof escape);
        } else {
          text_.push_back(static_cast<char>(c));
        }
    }
  }
  text_.push_back('"');
}

void JsonLine::Key(const char* key) {
  if (needComma_) text_.push_back(',');
  bool lossy = false;
  Escaped(key, lossy);
  text_.push_back(':');
  needComma_ = true;
}

JsonLine& JsonLine::String(const char* key, const char* value) {
  if (value == nullptr) return Null(key);
  return String(key, std::string_view(value));
}

JsonLine& JsonLine::String(const char* key, std::string_view value) {
  Key(key);
  bool lossy = false;
  Escaped(value, lossy);
  if (lossy) {
    // The exact bytes beside the readable form: "<key>_hex":"2f64..."
    text_.push_back(',');
    bool keyLossy = false;
    Escaped(key, keyLossy);
    text_.insert(text_.size() - 1, "_hex");
    text_.append(":\"");
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      text_.push_back(kHexDigits[byte >> 4]);
      text_.push_back(kHexDigits[byte & 0xF]);
    }
    text_.push_back('"');
  }
  return *this;
}

JsonLine& JsonLine::Number(const char* key, double value, int decimals) {
  Key(key);
  if (!std::isfinite(value)) {
    text_.append("null");
    return *this;
  }
  // DBL_MAX has 309 digits before the point.
  char number[400];
  const int length = std::snprintf(number, sizeof number, "%.*f", std::clamp(decimals, 0, 17), value);
  text_.append(number, static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(sizeof number) - 1)));
  return *this;
}

JsonLine& JsonLine::Unsigned(const char* key, std::uint64_t value) {
  Key(key);
  char number[24];
  const int length = std::snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(value));
  text_.append(number, static_cast<std::size_t>(length));
  return *this;
}

JsonLine& JsonLine::Bool(const char* key, bool value) {
  Key(key);
  text_.append(value ? "true" : "false");
  return *this;
}

JsonLine& JsonLine::Null(const char* key) {
  Key(key);
  text_.append("null");
  return *this;
}

JsonLine& JsonLine::Begin(const char* key) {
  Key(key);
  text_.push_back('{');
  ++depth_;
  needComma_ = false;
  return *this;
}

JsonLine& JsonLine::End() {
  if (depth_ > 1) {
    --depth_;
    text_.push_back('}');
  }
  needComma_ = true;
  return *this;
}

const char* JsonLine::Finish() {
  for (; depth_ > 0; --depth_) text_.push_back('}');
  text_.push_back('\n');
  return text_.c_str();
}

}  // namespace tarnwick::station
