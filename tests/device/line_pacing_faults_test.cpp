// Pacing of the line and the faults put on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "device_options.h"
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

bool OneBitFlippedEach(const Bytes& changed, const Bytes& bytes) {
  if (changed.size() != bytes.size()) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (std::popcount(static_cast<std::uint8_t>(changed[i] ^ bytes[i])) != 1) return false;
  }
  return true;
}

TEST(LineFaultsTest, RatesOfZeroAndOneInEachDirection) {
  const Bytes bytes(1000, 0xA5);
  LineFaults none({}, 1);
  EXPECT_EQ(none.Receive(bytes.data(), bytes.size()), bytes);
  EXPECT_EQ(none.Send(bytes.data(), bytes.size()), bytes);
  EXPECT_TRUE(none.NoiseBeforeFrame().empty());

  // Each rate acts on its own direction only.
  LineFaults corrupt({.corrupt = 1.0}, 2);
  EXPECT_TRUE(OneBitFlippedEach(corrupt.Receive(bytes.data(), bytes.size()), bytes));
  EXPECT_EQ(corrupt.Send(bytes.data(), bytes.size()), bytes);
  LineFaults corruptSent({.corruptSent = 1.0}, 2);
  EXPECT_TRUE(OneBitFlippedEach(corruptSent.Send(bytes.data(), bytes.size()), bytes));
  EXPECT_EQ(corruptSent.Receive(bytes.data(), bytes.size()), bytes);
  EXPECT_EQ(corruptSent.corruptedSent(), 1000u);
  EXPECT_EQ(corruptSent.corrupted(), 0u);

  LineFaults drop({.drop = 1.0}, 2);
  EXPECT_TRUE(drop.Receive(bytes.data(), bytes.size()).empty());
  EXPECT_EQ(drop.Send(bytes.data(), bytes.size()), bytes);
  LineFaults dropSent({.dropSent = 1.0}, 2);
  EXPECT_TRUE(dropSent.Send(bytes.data(), bytes.size()).empty());
  EXPECT_EQ(dropSent.Receive(bytes.data(), bytes.size()), bytes);
  EXPECT_EQ(dropSent.droppedSent(), 1000u);
  EXPECT_EQ(dropSent.dropped(), 0u);
}

TEST(LineFaultsTest, FaultsOnSentFramesAreRepeatableAndCounted) {
  // Frames as the device sends them: requests for blocks 0 to 63.
  std::vector<Bytes> frames;
  for (std::uint8_t sequence = 0; sequence < 64; ++sequence) {
    frames.push_back({0x33, 0xBB, 0x80, 0x00, sequence, static_cast<std::uint8_t>(0x80 + sequence)});
  }

  LineFaults corrupt({.corruptSent = 0.05}, 7);
  LineFaults again({.corruptSent = 0.05}, 7);
  unsigned changedBytes = 0;
  for (const Bytes& frame : frames) {
    const Bytes sent = corrupt.Send(frame.data(), frame.size());
    ASSERT_EQ(sent, again.Send(frame.data(), frame.size()));
    ASSERT_EQ(sent.size(), frame.size());
    for (std::size_t i = 0; i < frame.size(); ++i) {
      const int flipped = std::popcount(static_cast<std::uint8_t>(sent[i] ^ frame[i]));
      ASSERT_LE(flipped, 1) << "frame " << int{frame[4]} << " byte " << i;
      changedBytes += static_cast<unsigned>(flipped);
    }
  }
  // At 5 %: some bytes, and far fewer than a fifth of them.
  const unsigned total = 64 * 6;
  EXPECT_EQ(changedBytes, corrupt.corruptedSent());
  EXPECT_GT(changedBytes, 0u);
  EXPECT_LT(changedBytes, total / 5);

  LineFaults drop({.dropSent = 0.05}, 7);
  unsigned lost = 0;
  for (const Bytes& frame : frames) {
    const Bytes sent = drop.Send(frame.data(), frame.size());
    // What is left keeps its order: each byte sent is the next one of the frame still to come.
    auto next = frame.begin();
    for (std::uint8_t byte : sent) {
      next = std::find(next, frame.end(), byte);
      ASSERT_NE(next, frame.end()) << "frame " << int{frame[4]};
      ++next;
    }
    lost += static_cast<unsigned>(frame.size() - sent.size());
  }
  EXPECT_EQ(lost, drop.droppedSent());
  EXPECT_GT(lost, 0u);
  EXPECT_LT(lost, total / 5);
}

TEST(LineFaultsTest, NoiseIsRepeatableAndNeverTheFirstSyncByte) {
  LineFaults first({.noise = 1.0}, 42);
  LineFaults second({.noise = 1.0}, 42);
  for (int frame = 0; frame < 500; ++frame) {
    const Bytes noise = first.NoiseBeforeFrame();
    ASSERT_EQ(noise, second.NoiseBeforeFrame());
    ASSERT_TRUE(noise.size() >= 1 && noise.size() <= 4);
    ASSERT_EQ(std::count(noise.begin(), noise.end(), 0x33), 0);
  }
}

TEST(DeviceOptionsTest, FaultsOnTheDevicesSideAndTheHangUp) {
  const ParsedOptions parsed =
      ParseDeviceOptions({"--corrupt-sent", "0.25", "--drop-sent=0.5", "--hang-up-after", "3", "--noise", "0.125"});
  ASSERT_EQ(parsed.outcome, ParsedOptions::Outcome::Run) << parsed.error;
  const FaultRates& faults = parsed.options.faults;
  EXPECT_EQ(faults.corruptSent, 0.25);
  EXPECT_EQ(faults.dropSent, 0.5);
  EXPECT_EQ(faults.noise, 0.125);
  EXPECT_EQ(faults.corrupt, 0.0);
  EXPECT_EQ(faults.drop, 0.0);
  EXPECT_EQ(parsed.options.hangUpAfter, 3u);
  EXPECT_FALSE(ParseDeviceOptions({}).options.hangUpAfter) << "the line stays up unless asked";
  EXPECT_EQ(ParseDeviceOptions({"--hang-up-after", "0"}).options.hangUpAfter, 0u);

  const std::vector<std::vector<std::string>> bad = {
      {"--corrupt-sent", "1.01"}, {"--drop-sent", "-0.1"}, {"--drop-sent", "x"}, {"--corrupt-sent"},
      {"--hang-up-after", "-1"},  {"--hang-up-after", "two"}, {"--hang-up-after", "4294967296"},
      {"--hang-up-after"},
  };
  for (const auto& arguments : bad) {
    const ParsedOptions refused = ParseDeviceOptions(arguments);
    EXPECT_EQ(refused.outcome, ParsedOptions::Outcome::Error) << arguments[0];
    EXPECT_NE(refused.error.find(arguments[0]), std::string::npos) << refused.error;
  }
  // An error names what was given, on one line whatever that holds.
  EXPECT_EQ(ParseDeviceOptions({"-\n"}).error, "unknown option -?");
  EXPECT_EQ(ParseDeviceOptions({"--link", "x\ny", "--bogus\n"}).error.find('\n'), std::string::npos);

  // Values joined with '=' or apart, flags together, a PORT that starts with '-' after "--".
  const ParsedOptions joined = ParseDeviceOptions({"-v", "--runs=0x10", "--status", "0", "--", "-port"});
  ASSERT_EQ(joined.outcome, ParsedOptions::Outcome::Run) << joined.error;
  EXPECT_EQ(joined.options.runs, 16u);
  EXPECT_EQ(joined.options.status, 0);
  EXPECT_TRUE(joined.options.verbose);
  EXPECT_EQ(joined.options.port, "-port");
  EXPECT_EQ(ParseDeviceOptions({"-v", "-port"}).outcome, ParsedOptions::Outcome::Error);
  const ParsedOptions together = ParseDeviceOptions({"-vh"});
  EXPECT_EQ(together.outcome, ParsedOptions::Outcome::Help);
}

}  // namespace
}  // namespace tarnwick::device
