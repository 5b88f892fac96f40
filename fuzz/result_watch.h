// Watches the bytes the engine reads as device frames (0x33 0xBB, command,
// count, count + 2 body bytes) and says when a result frame (0x81) with
// status 0 and a checksum that holds went by: the one thing that may let a
// run end in success. The checksum, the frame's last byte, is the low 8 bits
// of the sum of the command, the count and the bytes between.
#pragma once

#include <cstdint>

namespace tarnwick::fuzz {

class ResultWatch {
 public:
  // Hunting for a frame's first byte, as the engine's parser is after Program.
  void Reset() { wait_ = kSync1; }

  // True when `byte` ends a result frame with status 0.
  bool Feed(std::uint8_t byte) {
    switch (wait_) {
      case kSync1:
        if (byte == 0x33) wait_ = kSync2;
        return false;
      case kSync2:
        // A byte that breaks the pair starts the hunt again, even a second 0x33.
        wait_ = byte == 0xBB ? kCommand : kSync1;
        return false;
      case kCommand:
        command_ = byte;
        sum_ = byte;
        wait_ = kCount;
        return false;
      case kCount:
        remaining_ = byte + 2u;
        sum_ = static_cast<std::uint8_t>(sum_ + byte);
        wait_ = kFirstBody;
        return false;
      case kFirstBody:
        status_ = byte;
        wait_ = kBody;
        [[fallthrough]];
      case kBody:
        if (--remaining_ != 0) {
          sum_ = static_cast<std::uint8_t>(sum_ + byte);
          return false;
        }
        wait_ = kSync1;
        return command_ == 0x81 && status_ == 0 && byte == sum_;
    }
    return false;
  }

 private:
  enum Wait { kSync1, kSync2, kCommand, kCount, kFirstBody, kBody } wait_ = kSync1;
  std::uint8_t command_ = 0;
  std::uint8_t status_ = 0;
  std::uint8_t sum_ = 0;
  unsigned remaining_ = 0;
};

}  // namespace tarnwick::fuzz
