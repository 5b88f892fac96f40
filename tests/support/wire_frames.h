// Frames as they stand on the line, for tests on either side of it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "frame_codec.h"

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

// A host frame: 0xCC 0xDD, command, count - 1, data, checksum.
inline Bytes HostFrame(std::uint8_t command, const std::uint8_t* data, std::size_t length) {
  Bytes source{command};
  source.insert(source.end(), data, data + length);
  Bytes frame(length + kFrameOverhead);
  BuildFrame(source.data(), frame.data(), length);
  return frame;
}

inline Bytes Handshake() {
  return HostFrame(handshakeSource[0], handshakeSource.data() + 1, kHandshakeDataLength);
}

// The block frame answering `request` with block `number` (from 0) of `image`.
inline Bytes Block(const Bytes& image, std::size_t number, std::uint8_t request) {
  const std::size_t start = number * kBlockSize;
  return HostFrame(request, image.data() + start, std::min(kBlockSize, image.size() - start));
}

// A device frame laid out by the host-frame rule: count byte 0, then the value and a checksum.
inline Bytes DeviceFrame(std::uint8_t command, std::uint8_t value) {
  return {kDeviceSync1, kDeviceSync2, command, 0x00, value, static_cast<std::uint8_t>(command + value)};
}
inline Bytes Request(std::uint8_t sequence) { return DeviceFrame(kCommandRequest, sequence); }
inline Bytes Result(std::uint8_t status) { return DeviceFrame(kCommandResult, status); }

}  // namespace tarnwick::testing
