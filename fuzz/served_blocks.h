// The blocks the engine served in one port session, in order, each as the
// image in force says it reads. Every block frame that reaches the line must
// be one of them, carried under a number that names it: a number below 64 is
// the block's index modulo 64; any other byte asks for the block last served.
// Frames may be lost (a queue that overflows, a port that fails), never
// reordered, so a frame is matched against the oldest blocks first and the
// blocks skipped on the way are dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "fuzz_support.h"
#include "host_frame_stream.h"

namespace tarnwick::fuzz {

class ServedBlocks {
 public:
  struct Block {
    std::uint32_t index = 0;          // from 0
    Bytes data;                        // the image's bytes [index * 128, min(index * 128 + 128, length))
    std::uint32_t counterBefore = 0;  // the block counter before this block was served
  };

  void Clear() { blocks_.clear(); }

  void Add(Block block) {
    blocks_.push_back(std::move(block));
    // The link's queue holds at most 8,192 bytes, so a block served this many
    // blocks ago can no longer be on its way: its frame was lost.
    if (blocks_.size() > kMaxInFlight) blocks_.pop_front();
  }

  // True when `frame` (a block frame with data) is one of the blocks served.
  bool Match(const WireFrame& frame) {
    while (!blocks_.empty()) {
      const Block block = std::move(blocks_.front());
      blocks_.pop_front();
      if (block.data == frame.data && NumberNames(frame.command, block)) return true;
    }
    return false;
  }

 private:
  static constexpr std::size_t kMaxInFlight = 4096;

  static bool NumberNames(std::uint8_t number, const Block& block) {
    if (number < 64) return (block.index & 0x3F) == number;
    return block.index + 1 == block.counterBefore;
  }

  std::deque<Block> blocks_;
};

}  // namespace tarnwick::fuzz
