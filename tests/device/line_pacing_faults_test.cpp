// Pacing of the line and the faults put on it.
#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "line_faults.h"
#include "paced_queue.h"

namespace tarnwick::device {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

TEST(PacedQueueTest, BytesFallDueOneByteTimeApart) {
  EXPECT_EQ(ByteTime(4800), 2083us);  // 10 bits a byte
  PacedQueue queue(ByteTime(4800));
  const Bytes frame = {1, 2, 3};
  queue.Push(frame.data(), frame.size(), 1000us);
  EXPECT_TRUE(queue.PeekDue(3082us).empty());
  EXPECT_EQ(queue.PeekDue(3083us), Bytes{1});
  EXPECT_EQ(queue.PeekDue(1000us + 3 * 2083us), frame);
  queue.Drop(3);
  // After an idle line a byte takes one byte time from when it is queued.
  queue.Push(frame.data(), 1, 1s);
  EXPECT_EQ(queue.NextDue(), 1s + 2083us);

  PacedQueue unpaced(ByteTime(0));
  unpaced.Push(frame.data(), frame.size(), 7us);
  EXPECT_EQ(unpaced.PeekDue(7us), frame);
}

TEST(LineFaultsTest, RatesOfZeroAndOne) {
  const Bytes bytes(1000, 0xA5);
  LineFaults none({}, 1);
  EXPECT_EQ(none.Receive(bytes.data(), bytes.size()), bytes);
  EXPECT_TRUE(none.NoiseBeforeFrame().empty());

  LineFaults corrupt({1.0, 0.0, 0.0}, 2);
  const Bytes changed = corrupt.Receive(bytes.data(), bytes.size());
  ASSERT_EQ(changed.size(), bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    ASSERT_EQ(std::popcount(static_cast<std::uint8_t>(changed[i] ^ bytes[i])), 1) << "one bit flipped";
  }
  LineFaults drop({0.0, 1.0, 0.0}, 2);
  EXPECT_TRUE(drop.Receive(bytes.data(), bytes.size()).empty());
}

TEST(LineFaultsTest, NoiseIsRepeatableAndNeverTheFirstSyncByte) {
  LineFaults first({0.0, 0.0, 1.0}, 42);
  LineFaults second({0.0, 0.0, 1.0}, 42);
  for (int frame = 0; frame < 500; ++frame) {
    const Bytes noise = first.NoiseBeforeFrame();
    ASSERT_EQ(noise, second.NoiseBeforeFrame());
    ASSERT_TRUE(noise.size() >= 1 && noise.size() <= 4);
    ASSERT_EQ(std::count(noise.begin(), noise.end(), 0x33), 0);
  }
}

}  // namespace
}  // namespace tarnwick::device
