#include "json_line.h"

#include <cmath>
#include <cstdio>

namespace tarnwick::cli {

void JsonLine::Clear() {
  length_ = 0;
  overflow_ = false;
  needComma_ = false;
  depth_ = 1;
  RawChar('{');
}

void JsonLine::RawChar(char c) {
  // Room is kept for the closing braces and the newline.
  if (length_ + 1 + static_cast<std::size_t>(depth_) + 2 >= text_.size()) {
    overflow_ = true;
    return;
  }
  text_[length_++] = c;
}

void JsonLine::Raw(const char* text) {
  for (; *text != '\0'; ++text) RawChar(*text);
}

void JsonLine::Escaped(const char* text) {
  RawChar('"');
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"':
        Raw("\\\"");
        break;
      case '\\':
        Raw("\\\\");
        break;
      case '\n':
        Raw("\\n");
        break;
      case '\r':
        Raw("\\r");
        break;
      case '\t':
        Raw("\\t");
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          Raw(escape);
        } else {
          RawChar(static_cast<char>(c));
        }
    }
  }
  RawChar('"');
}

void JsonLine::Key(const char* key) {
  if (needComma_) RawChar(',');
  Escaped(key);
  RawChar(':');
  needComma_ = true;
}

JsonLine& JsonLine::String(const char* key, const char* value) {
  Key(key);
  if (value == nullptr) {
    Raw("null");
  } else {
    Escaped(value);
  }
  return *this;
}

JsonLine& JsonLine::Number(const char* key, double value, int decimals) {
  Key(key);
  if (!std::isfinite(value)) {
    Raw("null");
    return *this;
  }
  char number[40];
  std::snprintf(number, sizeof number, "%.*f", decimals, value);
  Raw(number);
  return *this;
}

JsonLine& JsonLine::Unsigned(const char* key, std::uint64_t value) {
  Key(key);
  char number[24];
  std::snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(value));
  Raw(number);
  return *this;
}

JsonLine& JsonLine::Bool(const char* key, bool value) {
  Key(key);
  Raw(value ? "true" : "false");
  return *this;
}

JsonLine& JsonLine::Null(const char* key) {
  Key(key);
  Raw("null");
  return *this;
}

JsonLine& JsonLine::Begin(const char* key) {
  Key(key);
  RawChar('{');
  ++depth_;
  needComma_ = false;
  return *this;
}

JsonLine& JsonLine::End() {
  if (depth_ > 1) {
    --depth_;
    text_[length_++] = '}';
  }
  needComma_ = true;
  return *this;
}

const char* JsonLine::Finish() {
  while (depth_ > 0) {
    text_[length_++] = '}';
    --depth_;
  }
  text_[length_++] = '\n';
  text_[length_] = '\0';
  return text_.data();
}

}  // namespace tarnwick::cli
