// Assembles the frames the host sends (0xCC 0xDD, command, count, data,
// checksum) from the bytes the device receives, one byte at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "frame_codec.h"

namespace tarnwick::device {

struct HostFrame {
  std::uint8_t command = 0;
  std::size_t length = 0;  // data bytes, 0 to 128
  std::array<std::uint8_t, kBlockSize> data{};
  bool checksumOk = false;
};

enum class ReadResult {
  Pending,    // the byte did not end a frame
  Frame,      // a frame is complete (checksum right or not): see frame()
  BadLength,  // a count byte announced more than 128 data bytes; the frame was dropped
};

class HostFrameReader {
 public:
  ReadResult Feed(std::uint8_t byte);
  // The frame last completed.
  const HostFrame& frame() const { return frame_; }
  // Forgets a frame half read and hunts for the sync bytes again.
  void Reset() { wait_ = Wait::Sync1; }
  bool InsideFrame() const { return wait_ != Wait::Sync1; }

 private:
  enum class Wait { Sync1, Sync2, Command, Count, Data, Checksum };

  Wait wait_ = Wait::Sync1;
  HostFrame frame_;
  std::uint8_t sum_ = 0;
  std::size_t received_ = 0;
};

// True for the host's handshake: command 0x80, "qlumtrav" and a zero byte, right checksum.
bool IsHandshake(const HostFrame& frame);

}  // namespace tarnwick::device
