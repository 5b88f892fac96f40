// Host frames (0xCC 0xDD ...) and the receive parser for device frames (0x33 0xBB ...).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "programmer_state.h"

namespace tarnwick {

inline constexpr std::uint8_t kHostSync1 = 0xCC;
inline constexpr std::uint8_t kHostSync2 = 0xDD;
inline constexpr std::uint8_t kDeviceSync1 = 0x33;
inline constexpr std::uint8_t kDeviceSync2 = 0xBB;
inline constexpr std::uint8_t kCommandRequest = 0x80;    // device asks for a block
inline constexpr std::uint8_t kCommandResult = 0x81;     // device reports the outcome
inline constexpr std::uint8_t kCommandHandshake = 0x80;  // host announces itself

inline constexpr std::size_t kBlockSize = 128;
inline constexpr std::size_t kFrameOverhead = 5;  // two sync bytes, command, count, checksum
inline constexpr std::size_t kHandshakeDataLength = 9;
inline constexpr std::size_t kHandshakeFrameLength = kHandshakeDataLength + kFrameOverhead;

// The handshake's source record: its command, then "qlumtrav" and a zero byte.
inline constexpr std::array<std::uint8_t, kHandshakeDataLength + 1> handshakeSource = {
    kCommandHandshake, 'q', 'l', 'u', 'm', 't', 'r', 'a', 'v', 0x00};

// Writes the host frame for `source` (the command byte, then `count` data
// bytes) into `out`, which has room for count + 5 bytes, and returns count + 5.
// The count byte is count - 1 modulo 256; the checksum is the low 8 bits of the
// sum of the command, count and data bytes.
int BuildFrame(const std::uint8_t* source, std::uint8_t* out, std::size_t count);

// Assembles device frames byte by byte into state.rxPacket (command, count,
// then count + 2 body bytes), with its state in state.rxState. It checks no
// checksum itself: what a frame is trusted for is the run's decision
// (DeviceChecksumHolds).
class FrameParser {
 public:
  // Feeds one received byte; true when it completed a frame, which then
  // stands whole in state.rxPacket with state.rxState back at 0.
  bool Feed(ProgrammerState& state, std::uint8_t byte);

  // Body bytes collected for the frame being assembled.
  int rxIndex() const { return rxIndex_; }

 private:
  int rxIndex_ = 0;
};

// The device lays its frames out as the host does: count + 1 data bytes, then
// the low 8 bits of the sum of the command, count and data bytes. True when
// the frame standing in state.rxPacket ends with that sum.
bool DeviceChecksumHolds(const ProgrammerState& state);

}  // namespace tarnwick
