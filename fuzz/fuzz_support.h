// What every fuzz target shares: stopping loudly when an invariant breaks, and
// reading structured values off the fuzzer's bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarnwick::fuzz {

using Bytes = std::vector<std::uint8_t>;

// Ends the process with a message; libFuzzer keeps the input that did it.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "\n*** invariant broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

inline void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

// Command-line arguments from fuzz input: zero bytes separate them.
inline std::vector<std::string> SplitArguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) arguments.push_back(current);
  return arguments;
}

// Hands out the input's bytes front to back; once they run out every read
// gives 0 and Empty() is true.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return position_ == size_; }
  std::size_t Remaining() const { return size_ - position_; }

  std::uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }

  // Up to `count` bytes, fewer when the input ends first.
  Bytes Take(std::size_t count) {
    const std::size_t taken = std::min(count, Remaining());
    Bytes bytes(data_ + position_, data_ + position_ + taken);
    position_ += taken;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace tarnwick::fuzz
