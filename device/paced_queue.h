// Bytes on their way along a line of a given speed: each byte is due one
// byte time (10 bits: start, 8 data, stop) after the one before it, or after
// the moment it was queued if the line was idle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "simulated_device.h"

namespace tarnwick::device {

// Time one byte takes at `baud`; zero when baud is 0 (no pacing).
LineTime ByteTime(unsigned baud);

class PacedQueue {
 public:
  explicit PacedQueue(LineTime byteTime) : byteTime_(byteTime) {}

  void Push(const std::uint8_t* bytes, std::size_t count, LineTime now);
  // The bytes due by `now`, oldest first, left in the queue.
  std::vector<std::uint8_t> PeekDue(LineTime now) const;
  // Removes the `count` oldest bytes.
  void Drop(std::size_t count);
  void Clear() { queue_.clear(); }
  // When the oldest byte falls due; empty when the queue is empty.
  std::optional<LineTime> NextDue() const;
  bool Empty() const { return queue_.empty(); }

 private:
  struct Entry {
    std::uint8_t byte;
    LineTime due;
  };
  LineTime byteTime_;
  LineTime lineFreeAt_{};  // when the last byte queued is through
  std::deque<Entry> queue_;
};

}  // namespace tarnwick::device
