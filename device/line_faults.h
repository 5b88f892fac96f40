// Faults put on the line on purpose, from a seeded generator so that a run
// can be repeated: bytes from the host lost or altered on the way, and stray
// bytes ahead of the frames the device sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace tarnwick::device {

struct FaultRates {
  double corrupt = 0.0;  // chance that a byte from the host has one bit flipped
  double drop = 0.0;     // chance that a byte from the host is lost
  double noise = 0.0;    // chance of 1 to 4 stray bytes ahead of a frame the device sends
};

class LineFaults {
 public:
  LineFaults(FaultRates rates, std::uint32_t seed) : rates_(rates), random_(seed) {}

  bool Any() const { return rates_.corrupt > 0.0 || rates_.drop > 0.0 || rates_.noise > 0.0; }
  // The bytes from the host as the device gets them.
  std::vector<std::uint8_t> Receive(const std::uint8_t* bytes, std::size_t count);
  // Stray bytes to send ahead of the next frame; often none. They are never
  // the device's first sync byte, so they cannot swallow the frame behind them.
  std::vector<std::uint8_t> NoiseBeforeFrame();

  unsigned corrupted() const { return corrupted_; }
  unsigned dropped() const { return dropped_; }
  unsigned noiseBytes() const { return noiseBytes_; }

 private:
  bool Chance(double rate);

  FaultRates rates_;
  std::mt19937 random_;
  unsigned corrupted_ = 0;
  unsigned dropped_ = 0;
  unsigned noiseBytes_ = 0;
};

}  // namespace tarnwick::device
