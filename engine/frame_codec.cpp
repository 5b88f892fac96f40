#include "frame_codec.h"

#include <cstring>

namespace tarnwick {

int BuildFrame(const std::uint8_t* source, std::uint8_t* out, std::size_t count) {
  out[0] = kHostSync1;
  out[1] = kHostSync2;
  out[2] = source[0];
  out[3] = static_cast<std::uint8_t>(count - 1);
  if (count > 0) std::memcpy(out + 4, source + 1, count);
  unsigned sum = 0;
  for (std::size_t i = 2; i < count + 4; ++i) sum += out[i];
  out[count + 4] = static_cast<std::uint8_t>(sum);
  return static_cast<int>(count + kFrameOverhead);
}

namespace {
enum ParserState : std::int32_t {
  WaitSync1 = 0,
  WaitSync2 = 1,
  WaitCommand = 2,
  WaitCount = 3,
  CollectBody = 4,
};
}  // namespace

bool FrameParser::Feed(ProgrammerState& state, std::uint8_t byte) {
  switch (state.rxState) {
    case WaitSync1:
      if (byte == kDeviceSync1) state.rxState = WaitSync2;
      return false;
    case WaitSync2:
      // A byte that breaks the pair is dropped, even a second 0x33.
      state.rxState = (byte == kDeviceSync2) ? WaitCommand : WaitSync1;
      return false;
    case WaitCommand:
      state.rxPacket[0] = byte;
      state.rxState = WaitCount;
      return false;
    case WaitCount:
      state.rxPacket[1] = byte;
      rxIndex_ = 0;
      state.rxState = CollectBody;
      return false;
    case CollectBody:
      state.rxPacket[static_cast<std::size_t>(2 + rxIndex_)] = byte;
      ++rxIndex_;
      if (rxIndex_ == state.rxPacket[1] + 2) {
        state.rxState = WaitSync1;
        return true;
      }
      return false;
    default:
      // Only Program and this parser write rxState; treat anything else as a fresh start.
      state.rxState = WaitSync1;
      return false;
  }
}

bool DeviceChecksumHolds(const ProgrammerState& state) {
  const std::size_t count = state.rxPacket[1];
  // Command, count and the data bytes body[0 .. count]; the checksum follows them.
  const std::size_t summed = count + 3;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < summed; ++i) sum = static_cast<std::uint8_t>(sum + state.rxPacket[i]);
  return state.rxPacket[summed] == sum;
}

}  // namespace tarnwick
