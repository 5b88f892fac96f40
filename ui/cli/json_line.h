// One JSON object, built in a fixed buffer: what the run reports while it
// ticks is formatted without touching the heap.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnwick::cli {

class JsonLine {
 public:
  static constexpr std::size_t kCapacity = 2048;

  JsonLine() { Clear(); }
  void Clear();

  // Each adds `"key":value` after a comma where one is due. A string value of
  // nullptr is written as null.
  JsonLine& String(const char* key, const char* value);
  JsonLine& Number(const char* key, double value, int decimals);
  JsonLine& Unsigned(const char* key, std::uint64_t value);
  JsonLine& Bool(const char* key, bool value);
  JsonLine& Null(const char* key);
  // A nested object: Begin("image") ... End().
  JsonLine& Begin(const char* key);
  JsonLine& End();

  // The object closed and followed by a newline; stays valid until the next change.
  const char* Finish();
  std::size_t length() const { return length_; }
  // False once something did not fit (the line is then cut short but still closed).
  bool complete() const { return !overflow_; }

 private:
  void Key(const char* key);
  void Raw(const char* text);
  void RawChar(char c);
  void Escaped(const char* text);

  std::array<char, kCapacity> text_{};
  std::size_t length_ = 0;
  bool needComma_ = false;
  bool overflow_ = false;
  int depth_ = 0;
};

}  // namespace tarnwick::cli
