// The simulated device's reader of host frames, fed the input byte by byte.
// The first byte says how often the reader is told to forget a frame half read.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "host_frame_reader.h"
#include "host_frame_stream.h"

namespace {

using tarnwick::device::HostFrameReader;
using tarnwick::device::ReadResult;
using tarnwick::fuzz::Check;

void CheckFrame(const HostFrameReader& reader, const std::uint8_t* fed, std::size_t fedCount,
                std::size_t sinceReset) {
  const auto& frame = reader.frame();
  Check(frame.length <= 128, "a frame holds more than 128 data bytes");
  const std::size_t length = frame.length + 5;
  Check(length <= sinceReset, "a frame reaches back past the last reset or the first byte");
  const std::uint8_t* wire = fed + fedCount - length;
  Check(wire[0] == 0xCC && wire[1] == 0xDD, "a frame does not start with 0xCC 0xDD");
  Check(frame.command == wire[2], "the frame's command is not the byte after the sync bytes");
  Check(wire[3] == static_cast<std::uint8_t>(frame.length - 1), "the frame's length does not match its count byte");
  Check(std::memcmp(frame.data.data(), wire + 4, frame.length) == 0, "the frame's data is not the bytes fed");
  const std::uint8_t checksum = tarnwick::fuzz::FrameChecksum(wire[2], wire[3], wire + 4, frame.length);
  Check(frame.checksumOk == (checksum == wire[length - 1]), "the checksum flag is wrong");
  Check(!reader.InsideFrame(), "the reader is still inside a frame it completed");

  const auto& handshake = tarnwick::fuzz::HandshakeBytes();
  const bool isHandshake = length == handshake.size() && std::memcmp(wire, handshake.data(), length) == 0;
  Check(tarnwick::device::IsHandshake(frame) == isHandshake, "IsHandshake disagrees with the handshake's bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t resetEvery = data[0];  // 0: never
  HostFrameReader reader;
  std::size_t sinceReset = 0;
  for (std::size_t i = 1; i < size; ++i) {
    if (resetEvery != 0 && i % resetEvery == 0) {
      reader.Reset();
      Check(!reader.InsideFrame(), "the reader is inside a frame right after a reset");
      sinceReset = 0;
    }
    ++sinceReset;
    const ReadResult result = reader.Feed(data[i]);
    const std::size_t fedCount = i + 1;
    switch (result) {
      case ReadResult::Pending:
        break;
      case ReadResult::Frame:
        CheckFrame(reader, data, fedCount, sinceReset);
        break;
      case ReadResult::BadLength: {
        Check(sinceReset >= 4, "a bad length reported before a header was fed");
        const std::uint8_t* header = data + fedCount - 4;
        Check(header[0] == 0xCC && header[1] == 0xDD, "a bad length reported outside a frame header");
        Check(static_cast<std::uint8_t>(header[3] + 1) > 128, "a count byte of 128 data bytes or fewer refused");
        Check(!reader.InsideFrame(), "the reader stays inside a frame it dropped");
        break;
      }
    }
  }
  return 0;
}
