// Image files for the fuzz targets: what an image holds, worked out from the
// file's bytes and the key (at most 65,536 bytes, byte i less key entry
// i mod 50), and generated file contents whose blocks all differ.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "programmer_state.h"

namespace tarnwick::fuzz {

// Fills `image` (whose room may be reused) with the image `file` holds.
inline void ImageOfFile(const Bytes& file, Bytes& image) {
  const std::size_t length = std::min<std::size_t>(file.size(), kMaxImageLength);
  image.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
  for (std::size_t i = 0; i < length; ++i) {
    image[i] = static_cast<std::uint8_t>(image[i] - imageKey[i % imageKey.size()]);
  }
}

// `length` bytes from a generator seeded by `seed` and the length.
inline Bytes GeneratedFile(std::size_t length, std::uint8_t seed) {
  Bytes bytes(length);
  std::uint32_t x = (seed + 1u) * 2654435761u ^ static_cast<std::uint32_t>(length);
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x >> 24);
  }
  return bytes;
}

}  // namespace tarnwick::fuzz
