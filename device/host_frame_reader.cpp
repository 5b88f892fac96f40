#include "host_frame_reader.h"

#include <algorithm>

namespace tarnwick::device {

ReadResult HostFrameReader::Feed(std::uint8_t byte) {
  switch (wait_) {
    case Wait::Sync1:
      if (byte == kHostSync1) wait_ = Wait::Sync2;
      return ReadResult::Pending;
    case Wait::Sync2:
      // A repeated first sync byte may still be the start of a frame.
      if (byte == kHostSync2) {
        wait_ = Wait::Command;
      } else if (byte != kHostSync1) {
        wait_ = Wait::Sync1;
      }
      return ReadResult::Pending;
    case Wait::Command:
      frame_.command = byte;
      sum_ = byte;
      wait_ = Wait::Count;
      return ReadResult::Pending;
    case Wait::Count: {
      // The count byte is the number of data bytes minus one: 0xFF is an empty frame.
      const std::size_t length = static_cast<std::uint8_t>(byte + 1);
      if (length > kBlockSize) {
        wait_ = Wait::Sync1;
        return ReadResult::BadLength;
      }
      frame_.length = length;
      sum_ = static_cast<std::uint8_t>(sum_ + byte);
      received_ = 0;
      wait_ = length == 0 ? Wait::Checksum : Wait::Data;
      return ReadResult::Pending;
    }
    case Wait::Data:
      frame_.data[received_++] = byte;
      sum_ = static_cast<std::uint8_t>(sum_ + byte);
      if (received_ == frame_.length) wait_ = Wait::Checksum;
      return ReadResult::Pending;
    case Wait::Checksum:
      frame_.checksumOk = byte == sum_;
      wait_ = Wait::Sync1;
      return ReadResult::Frame;
  }
  return ReadResult::Pending;
}

bool IsHandshake(const HostFrame& frame) {
  return frame.checksumOk && frame.command == handshakeSource[0] &&
         frame.length == kHandshakeDataLength &&
         std::equal(handshakeSource.begin() + 1, handshakeSource.end(), frame.data.begin());
}

}  // namespace tarnwick::device
