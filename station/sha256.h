// SHA-256 of an image, as the run records name it (the digest a user gets
// from any checksum tool over the same bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnwick::station {

class Sha256 {
 public:
  Sha256();
  void Update(const std::uint8_t* data, std::size_t length);
  std::array<std::uint8_t, 32> Finish();
  // The digest as 64 lower-case hex digits and a terminating zero.
  std::array<char, 65> FinishHex();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t totalLength_ = 0;
};

// 64 lower-case hex digits and a terminating zero.
std::array<char, 65> Sha256Hex(const std::uint8_t* data, std::size_t length);

}  // namespace tarnwick::station
