// Faults put on the line on purpose, from a seeded generator so that a run
// can be repeated: bytes lost or altered on the way in either direction, and
// stray bytes ahead of the frames the device sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace tarnwick::device {

struct FaultRates {
  double corrupt = 0.0;      // chance that a byte from the host has one bit flipped
  double drop = 0.0;         // chance that a byte from the host is lost
  double noise = 0.0;        // chance of 1 to 4 stray bytes ahead of a frame the device sends
  double corruptSent = 0.0;  // chance that a byte of a frame the device sends has one bit flipped
  double dropSent = 0.0;     // chance that a byte of a frame the device sends is lost
};

class LineFaults {
 public:
  LineFaults(FaultRates rates, std::uint32_t seed) : rates_(rates), random_(seed) {}

  // True when bytes from the host may be altered or lost.
  bool AnyOnReceive() const { return rates_.corrupt > 0.0 || rates_.drop > 0.0; }
  // The bytes from the host as the device gets them.
  std::vector<std::uint8_t> Receive(const std::uint8_t* bytes, std::size_t count);
  // The bytes of a frame the device sends as they go out on the line.
  std::vector<std::uint8_t> Send(const std::uint8_t* bytes, std::size_t count);
  // Stray bytes to send ahead of the next frame; often none. They are never
  // the device's first sync byte, so they cannot swallow the frame behind them.
  std::vector<std::uint8_t> NoiseBeforeFrame();

  unsigned corrupted() const { return corrupted_; }
  unsigned dropped() const { return dropped_; }
  unsigned noiseBytes() const { return noiseBytes_; }
  unsigned corruptedSent() const { return corruptedSent_; }
  unsigned droppedSent() const { return droppedSent_; }

 private:
  bool Chance(double rate);
  std::vector<std::uint8_t> Pass(const std::uint8_t* bytes, std::size_t count, double corruptRate, double dropRate,
                                 unsigned& corrupted, unsigned& dropped);

  FaultRates rates_;
  std::mt19937 random_;
  unsigned corrupted_ = 0;
  unsigned dropped_ = 0;
  unsigned noiseBytes_ = 0;
  unsigned corruptedSent_ = 0;
  unsigned droppedSent_ = 0;
};

}  // namespace tarnwick::device
