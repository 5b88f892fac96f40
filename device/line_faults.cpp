#include "line_faults.h"

#include "frame_codec.h"

namespace tarnwick::device {

bool LineFaults::Chance(double rate) {
  if (rate <= 0.0) return false;
  // The generator's 2^32 equally likely values; a rate of 1 is always true.
  return static_cast<double>(random_()) < rate * 4294967296.0;
}

std::vector<std::uint8_t> LineFaults::Pass(const std::uint8_t* bytes, std::size_t count, double corruptRate,
                                           double dropRate, unsigned& corrupted, unsigned& dropped) {
  std::vector<std::uint8_t> arrived;
  arrived.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (Chance(dropRate)) {
      ++dropped;
      continue;
    }
    std::uint8_t byte = bytes[i];
    if (Chance(corruptRate)) {
      // One flipped bit: the kind of error a noisy line makes.
      byte = static_cast<std::uint8_t>(byte ^ (1u << (random_() % 8)));
      ++corrupted;
    }
    arrived.push_back(byte);
  }
  return arrived;
}

std::vector<std::uint8_t> LineFaults::Receive(const std::uint8_t* bytes, std::size_t count) {
  return Pass(bytes, count, rates_.corrupt, rates_.drop, corrupted_, dropped_);
}

std::vector<std::uint8_t> LineFaults::Send(const std::uint8_t* bytes, std::size_t count) {
  return Pass(bytes, count, rates_.corruptSent, rates_.dropSent, corruptedSent_, droppedSent_);
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
