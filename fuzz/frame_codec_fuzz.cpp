// The frame codec: the receive parser fed the input byte by byte, and
// BuildFrame on a record taken from the input.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "frame_codec.h"
#include "fuzz_support.h"
#include "programmer_state.h"

namespace {

using tarnwick::fuzz::Bytes;
using tarnwick::fuzz::Check;

// The record is large; one serves every input.
tarnwick::ProgrammerState& SharedState() {
  static const auto state = std::make_unique<tarnwick::ProgrammerState>();
  return *state;
}

// Values in the fields either side of rxPacket, which the parser must never touch.
constexpr std::uint8_t kLastRxByte = 0x5C;
constexpr std::uint32_t kArmedMarker = 0xA55A0FF0;

// Every completed frame must be exactly the last bytes fed: the device's sync
// bytes 0x33 0xBB, command, count byte, then count + 2 body bytes, all of them
// copied into rxPacket.
void CheckParser(const std::uint8_t* data, std::size_t size) {
  tarnwick::ProgrammerState& state = SharedState();
  state.rxState = 0;
  state.rxBytes.back() = kLastRxByte;
  state.armed = kArmedMarker;
  tarnwick::FrameParser parser;

  for (std::size_t i = 0; i < size; ++i) {
    const bool complete = parser.Feed(state, data[i]);
    Check(parser.rxIndex() >= 0 && static_cast<std::size_t>(parser.rxIndex()) + 2 <= state.rxPacket.size(),
          "the parser's body index left rxPacket");
    Check(state.rxBytes.back() == kLastRxByte && state.armed == kArmedMarker,
          "the parser wrote outside rxPacket");
    if (!complete) continue;

    const std::size_t count = state.rxPacket[1];
    const std::size_t length = count + 6;
    Check(i + 1 >= length, "a frame completed before as many bytes as it holds were fed");
    const std::uint8_t* frame = data + i + 1 - length;
    Check(frame[0] == 0x33 && frame[1] == 0xBB, "a completed frame does not start with 0x33 0xBB");
    Check(state.rxPacket[0] == frame[2], "rxPacket's command is not the byte after the sync bytes");
    Check(state.rxPacket[1] == frame[3], "rxPacket's count is not the count byte fed");
    Check(std::memcmp(state.rxPacket.data() + 2, frame + 4, count + 2) == 0,
          "rxPacket's body is not the count + 2 bytes fed after the count");
    Check(state.rxState == 0, "the parser did not go back to hunting for a sync byte after a frame");
  }
}

// BuildFrame writes count + 5 bytes: 0xCC 0xDD, the command, count - 1 modulo
// 256, the data, and the low 8 bits of the sum of command, count byte and data.
void CheckBuildFrame(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  const std::size_t count = std::min<std::size_t>(data[0], size - 2);
  // Exactly the command and `count` data bytes, so a read past them is caught.
  const Bytes source(data + 1, data + 2 + count);
  constexpr std::size_t kGuard = 32;

  // Two runs with different guard fillings: a stray write shows in at least one.
  for (const std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
    Bytes out(count + 5 + kGuard, fill);
    const int length = tarnwick::BuildFrame(source.data(), out.data(), count);
    Check(length >= 0 && static_cast<std::size_t>(length) == count + 5, "BuildFrame did not return count + 5");
    Check(out[0] == 0xCC && out[1] == 0xDD, "a host frame does not start with 0xCC 0xDD");
    Check(out[2] == source[0], "a host frame's command is not the source's first byte");
    Check(out[3] == static_cast<std::uint8_t>(count - 1), "a host frame's count byte is not count - 1");
    Check(std::memcmp(out.data() + 4, source.data() + 1, count) == 0, "a host frame's data is not the source's");
    unsigned sum = source[0] + out[3];
    for (std::size_t i = 1; i <= count; ++i) sum += source[i];
    Check(out[count + 4] == static_cast<std::uint8_t>(sum), "a host frame's checksum is wrong");
    for (std::size_t i = count + 5; i < out.size(); ++i) {
      Check(out[i] == fill, "BuildFrame wrote past count + 5 bytes");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckParser(data, size);
  CheckBuildFrame(data, size);
  return 0;
}
