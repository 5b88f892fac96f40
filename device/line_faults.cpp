#include "line_faults.h"

#include "frame_codec.h"

namespace tarnwick::device {

bool LineFaults::Chance(double rate) {
  if (rate <= 0.0) return false;
  // The generator's 2^32 equally likely values; a rate of 1 is always true.
  return static_cast<double>(random_()) < rate * 4294967296.0;
}

std::vector<std::uint8_t> LineFaults::Receive(const std::uint8_t* bytes, std::size_t count) {
  std::vector<std::uint8_t> arrived;
  arrived.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (Chance(rates_.drop)) {
      ++dropped_;
      continue;
    }
    std::uint8_t byte = bytes[i];
    if (Chance(rates_.corrupt)) {
      // One flipped bit: the kind of error a noisy line makes.
      byte = static_cast<std::uint8_t>(byte ^ (1u << (random_() % 8)));
      ++corrupted_;
    }
    arrived.push_back(byte);
  }
  return arrived;
}

std::vector<std::uint8_t> LineFaults::NoiseBeforeFrame() {
  std::vector<std::uint8_t> noise;
  if (!Chance(rates_.noise)) return noise;
  const std::size_t length = 1 + random_() % 4;
  while (noise.size() < length) {
    const auto byte = static_cast<std::uint8_t>(random_());
    if (byte != kDeviceSync1) noise.push_back(byte);
  }
  noiseBytes_ += static_cast<unsigned>(length);
  return noise;
}

}  // namespace tarnwick::device
