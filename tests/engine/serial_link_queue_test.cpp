// The link's own send queue, against a port that takes writes only in part.
#include "serial_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "frame_codec.h"

namespace tarnwick {
namespace {

// Takes at most `budget` bytes until the test grants more; can be made to fail.
class ThrottledPort : public SerialPort {
 public:
  bool Open(const char*) override { return opens++ == 0 || reopenable; }
  bool Configure() override { return true; }
  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override {
    ++writeCalls;
    if (failed) return -1;
    const std::size_t taken = std::min(length, budget);
    line.insert(line.end(), data, data + taken);
    budget -= taken;
    return static_cast<std::ptrdiff_t>(taken);
  }
  std::size_t BytesWaiting() override { return waiting; }
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    ++reads;
    std::fill(out, out + count, 0x42);
    waiting -= count;
    return count;
  }
  void Close() override { ++closes; }

  std::vector<std::uint8_t> line;
  std::size_t budget = 1 << 20;
  std::size_t waiting = 0;
  bool failed = false;
  bool reopenable = true;
  int opens = 0, closes = 0, reads = 0, writeCalls = 0;
};

std::vector<std::uint8_t> Frame(std::uint8_t command, std::size_t count) {
  std::vector<std::uint8_t> source(count + 1, command);
  std::vector<std::uint8_t> frame(count + kFrameOverhead);
  BuildFrame(source.data(), frame.data(), count);
  return frame;
}

class SerialLinkQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(link.OpenPort("COM1")); }
  void Send(const std::vector<std::uint8_t>& frame) {
    link.SendFrame(WriteChannel::Block, frame.data(), frame.size());
  }
  ThrottledPort port;
  SerialLink link{port};
  std::unique_ptr<ProgrammerState> state = std::make_unique<ProgrammerState>();
};

TEST_F(SerialLinkQueueTest, PartialWritesReachTheLineWholeAndInOrder) {
  port.budget = 20;
  const auto first = Frame(0x01, 128);
  const auto second = Frame(0x02, 128);
  Send(first);
  link.SendHandshake();
  Send(second);
  EXPECT_EQ(port.line.size(), 20u);
  EXPECT_EQ(link.PendingBytes(), first.size() + second.size() + kHandshakeFrameLength - 20);

  // Each poll goes on writing what the port can take.
  for (int tick = 0; tick < 10 && link.PendingBytes() > 0; ++tick) {
    port.budget = 50;
    link.PollReceive(*state);
  }
  std::vector<std::uint8_t> expected = first;
  std::vector<std::uint8_t> handshake(kHandshakeFrameLength);
  BuildFrame(handshakeSource.data(), handshake.data(), kHandshakeDataLength);
  expected.insert(expected.end(), handshake.begin(), handshake.end());
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(port.line, expected);
  EXPECT_EQ(link.PendingBytes(), 0u);
}

TEST_F(SerialLinkQueueTest, QueueWrapsAroundWithoutLosingBytes) {
  std::vector<std::uint8_t> expected;
  port.budget = 0;
  for (int round = 0; round < 200; ++round) {
    const auto frame = Frame(static_cast<std::uint8_t>(round), 100);
    Send(frame);
    expected.insert(expected.end(), frame.begin(), frame.end());
    port.budget = 97;  // never a whole frame, so the ring's start keeps moving
    link.PollReceive(*state);
  }
  port.budget = 1 << 20;
  link.PollReceive(*state);
  EXPECT_EQ(port.line, expected);
}

TEST_F(SerialLinkQueueTest, FrameThatDoesNotFitIsNotSentAtAll) {
  port.budget = 0;
  const auto frame = Frame(0x07, 128);
  std::size_t queued = 0;
  while (queued + frame.size() <= kSendQueueSize) {
    Send(frame);
    queued += frame.size();
  }
  EXPECT_EQ(link.PendingBytes(), queued);
  Send(frame);  // no room: dropped whole
  EXPECT_EQ(link.PendingBytes(), queued);
  port.budget = 1 << 20;
  link.PollReceive(*state);
  ASSERT_EQ(port.line.size(), queued);
  for (std::size_t at = 0; at < queued; at += frame.size()) {
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), port.line.begin() + static_cast<std::ptrdiff_t>(at)));
  }
}

TEST_F(SerialLinkQueueTest, PortThatFailsDropsWhatWasQueuedAndKeepsWorking) {
  port.budget = 10;
  Send(Frame(0x01, 128));
  port.failed = true;
  link.PollReceive(*state);
  EXPECT_EQ(link.PendingBytes(), 0u);
  Send(Frame(0x02, 128));
  EXPECT_EQ(link.PendingBytes(), 0u);
  EXPECT_EQ(port.line.size(), 10u);
}

TEST_F(SerialLinkQueueTest, PollTakesAtMost200AndReadsNothingWhenNothingWaits) {
  EXPECT_EQ(link.PollReceive(*state), 0u);
  EXPECT_EQ(port.reads, 0);
  port.waiting = 250;
  EXPECT_EQ(link.PollReceive(*state), 200u);
  EXPECT_EQ(link.PollReceive(*state), 50u);
  port.waiting = 37;
  EXPECT_EQ(link.PollReceive(*state), 37u);
}

TEST_F(SerialLinkQueueTest, ClosedLinkDoesNothing) {
  link.ClosePort();
  link.ClosePort();
  EXPECT_EQ(port.closes, 1);
  const int writesBefore = port.writeCalls;
  link.SendHandshake();
  Send(Frame(0x01, 3));
  port.waiting = 10;
  EXPECT_EQ(link.PollReceive(*state), 0u);
  EXPECT_EQ(port.writeCalls, writesBefore);
  EXPECT_EQ(port.reads, 0);
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialLinkQueueTest, ClosingDropsTheQueueOfThatPort) {
  port.budget = 0;
  Send(Frame(0x01, 50));
  link.ClosePort();
  ASSERT_TRUE(link.OpenPort("COM2"));
  port.budget = 1 << 20;
  link.PollReceive(*state);
  EXPECT_TRUE(port.line.empty()) << "bytes meant for one port must not go out on the next";
}

}  // namespace
}  // namespace tarnwick
