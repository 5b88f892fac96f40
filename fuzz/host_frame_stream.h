// The host's frames as the line carries them, worked out here from the wire
// format alone (0xCC 0xDD, command, count byte = data length - 1 modulo 256,
// data, checksum = low 8 bits of the sum of command, count byte and data), so
// that the fuzz targets judge the code under test by something it did not make.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "fuzz_support.h"

namespace tarnwick::fuzz {

struct WireFrame {
  std::uint8_t command = 0;
  Bytes data;
  Bytes bytes;  // the whole frame as written
};

inline std::uint8_t FrameChecksum(std::uint8_t command, std::uint8_t countByte, const std::uint8_t* data,
                                  std::size_t length) {
  unsigned sum = command + countByte;
  for (std::size_t i = 0; i < length; ++i) sum += data[i];
  return static_cast<std::uint8_t>(sum);
}

inline Bytes WireBytes(std::uint8_t command, const Bytes& data) {
  const auto countByte = static_cast<std::uint8_t>(data.size() - 1);
  Bytes bytes(data.size() + 5);
  bytes[0] = 0xCC;
  bytes[1] = 0xDD;
  bytes[2] = command;
  bytes[3] = countByte;
  std::copy(data.begin(), data.end(), bytes.begin() + 4);
  bytes.back() = FrameChecksum(command, countByte, data.data(), data.size());
  return bytes;
}

// The host's greeting: command 0x80 with "qlumtrav" and a zero byte, 14 bytes in all.
inline const Bytes& HandshakeBytes() {
  static const Bytes bytes = WireBytes(0x80, Bytes{'q', 'l', 'u', 'm', 't', 'r', 'a', 'v', 0x00});
  return bytes;
}

// Cuts the bytes one port session carried into frames, failing at the first
// byte that cannot belong to a well-formed frame.
class HostFrameStream {
 public:
  explicit HostFrameStream(std::function<void(const WireFrame&)> onFrame) : onFrame_(std::move(onFrame)) {}

  void Begin() { current_.clear(); }
  bool InsideFrame() const { return !current_.empty(); }

  void Add(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) AddByte(bytes[i]);
  }

 private:
  void AddByte(std::uint8_t byte) {
    current_.push_back(byte);
    const std::size_t have = current_.size();
    if (have == 1) Check(byte == 0xCC, "a host frame does not start with 0xCC");
    if (have == 2) Check(byte == 0xDD, "a host frame's second byte is not 0xDD");
    if (have < 4) return;
    const std::size_t dataLength = static_cast<std::uint8_t>(current_[3] + 1);
    if (have < dataLength + 5) return;

    WireFrame frame;
    frame.command = current_[2];
    frame.data.assign(current_.begin() + 4, current_.begin() + 4 + static_cast<std::ptrdiff_t>(dataLength));
    Check(byte == FrameChecksum(frame.command, current_[3], frame.data.data(), dataLength),
          "a host frame's checksum is wrong");
    frame.bytes.swap(current_);
    current_.clear();
    onFrame_(frame);
  }

  std::function<void(const WireFrame&)> onFrame_;
  Bytes current_;
};

}  // namespace tarnwick::fuzz
