#include "frame_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace tarnwick {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Build(const Bytes& source, std::size_t count) {
  Bytes out(count + kFrameOverhead + 8, 0xEE);  // extra room shows overruns
  const int length = BuildFrame(source.data(), out.data(), count);
  EXPECT_EQ(length, static_cast<int>(count + kFrameOverhead));
  for (std::size_t i = count + kFrameOverhead; i < out.size(); ++i) {
    EXPECT_EQ(out[i], 0xEE) << "wrote past the frame at " << i;
  }
  out.resize(static_cast<std::size_t>(length));
  return out;
}

TEST(BuildFrameTest, KnownFrames) {
  EXPECT_EQ(Build({0x05, 0x01, 0x02, 0x03}, 3), (Bytes{0xCC, 0xDD, 0x05, 0x02, 0x01, 0x02, 0x03, 0x0D}));
  // No data: the count byte wraps to 0xFF and the checksum is command + 0xFF.
  EXPECT_EQ(Build({0x05}, 0), (Bytes{0xCC, 0xDD, 0x05, 0xFF, 0x04}));
}

TEST(BuildFrameTest, FullBlock) {
  Bytes source{0x00};
  for (int i = 0; i < 128; ++i) source.push_back(static_cast<std::uint8_t>(i));
  const Bytes frame = Build(source, 128);
  ASSERT_EQ(frame.size(), 133u);
  EXPECT_EQ(frame[3], 0x7F);
  EXPECT_EQ(frame[4], 0x00);
  EXPECT_EQ(frame[131], 0x7F);
  EXPECT_EQ(frame[132], 0x3F);
}

TEST(BuildFrameTest, HandshakeIsTheSameFourteenBytesEveryTime) {
  const Bytes source(handshakeSource.begin(), handshakeSource.end());
  const Bytes first = Build(source, kHandshakeDataLength);
  unsigned sum = 0x80 + 0x08;
  for (char letter : std::string("qlumtrav")) sum += static_cast<unsigned char>(letter);
  const Bytes expected{0xCC, 0xDD, 0x80, 0x08, 'q', 'l', 'u', 'm', 't', 'r', 'a', 'v', 0x00,
                       static_cast<std::uint8_t>(sum)};
  EXPECT_EQ(first, expected);
  EXPECT_EQ(Build(source, kHandshakeDataLength), first);
}

class FrameParserTest : public ::testing::Test {
 protected:
  // Feeds bytes; returns the indexes of the bytes that completed a frame.
  std::vector<std::size_t> Feed(const Bytes& bytes) {
    std::vector<std::size_t> completed;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (parser.Feed(*state, bytes[i])) completed.push_back(i);
    }
    return completed;
  }
  Bytes Packet(std::size_t length) const {
    return Bytes(state->rxPacket.begin(), state->rxPacket.begin() + static_cast<std::ptrdiff_t>(length));
  }

  std::unique_ptr<ProgrammerState> state = std::make_unique<ProgrammerState>();
  FrameParser parser;
};

TEST_F(FrameParserTest, RequestAndResultFrames) {
  EXPECT_EQ(Feed({0x33, 0xBB, 0x80, 0x00, 0x05, 0x85}), (std::vector<std::size_t>{5}));
  EXPECT_EQ(Packet(4), (Bytes{0x80, 0x00, 0x05, 0x85}));
  EXPECT_EQ(state->rxState, 0);

  EXPECT_EQ(Feed({0x33, 0xBB, 0x81, 0x00, 0x00, 0x81}).size(), 1u);
  EXPECT_EQ(Packet(3), (Bytes{0x81, 0x00, 0x00}));
  EXPECT_EQ(Feed({0x33, 0xBB, 0x81, 0x00, 0x01, 0x82}).size(), 1u);
  EXPECT_EQ(state->rxPacket[2], 0x01);
}

TEST_F(FrameParserTest, ChecksumIsNotVerified) {
  EXPECT_EQ(Feed({0x33, 0xBB, 0x80, 0x00, 0x05, 0x00}).size(), 1u);
}

TEST_F(FrameParserTest, NoiseBeforeTheSyncPairIsSkipped) {
  EXPECT_EQ(Feed({0x00, 0xBB, 0xFF, 0x12, 0x33, 0xBB, 0x80, 0x00, 0x07, 0x87}), (std::vector<std::size_t>{9}));
  EXPECT_EQ(state->rxPacket[2], 0x07);
}

TEST_F(FrameParserTest, ByteThatBreaksTheSyncPairIsDropped) {
  // The second 0x33 breaks the pair and is not taken as a new first sync byte.
  EXPECT_TRUE(Feed({0x33, 0x33, 0xBB, 0x80, 0x00, 0x05, 0x85}).empty());
  EXPECT_EQ(state->rxState, 0);
}

TEST_F(FrameParserTest, SyncBytesInsideABodyAreContent) {
  EXPECT_EQ(Feed({0x33, 0xBB, 0x80, 0x02, 0x33, 0xBB, 0x80, 0x00}), (std::vector<std::size_t>{7}));
  EXPECT_EQ(Packet(6), (Bytes{0x80, 0x02, 0x33, 0xBB, 0x80, 0x00}));
}

TEST_F(FrameParserTest, FrameSplitOverPollsCompletesOnce) {
  EXPECT_TRUE(Feed({0x33}).empty());
  EXPECT_TRUE(Feed({0xBB, 0x80}).empty());
  EXPECT_EQ(Feed({0x00, 0x09, 0x89}), (std::vector<std::size_t>{2}));
  EXPECT_EQ(state->rxPacket[2], 0x09);
}

TEST_F(FrameParserTest, TwoFramesInOnePollAreReportedInTurn) {
  std::vector<std::uint8_t> firstBodies;
  const Bytes bytes{0x33, 0xBB, 0x80, 0x00, 0x01, 0x81, 0x33, 0xBB, 0x80, 0x00, 0x02, 0x82};
  for (std::uint8_t byte : bytes) {
    if (parser.Feed(*state, byte)) firstBodies.push_back(state->rxPacket[2]);
  }
  EXPECT_EQ(firstBodies, (std::vector<std::uint8_t>{0x01, 0x02}));
}

TEST_F(FrameParserTest, LongestBodyIsStoredWhole) {
  Bytes bytes{0x33, 0xBB, 0x80, 0xFF};
  for (int i = 0; i < 257; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(Feed(bytes), (std::vector<std::size_t>{bytes.size() - 1}));
  EXPECT_EQ(state->rxPacket[1], 0xFF);
  EXPECT_EQ(state->rxPacket[2], 0x00);
  EXPECT_EQ(state->rxPacket[258], 0x00);  // body byte 256 is 256 mod 256
  EXPECT_EQ(state->rxPacket[257], 0xFF);
}

TEST_F(FrameParserTest, UnknownCommandIsConsumedLikeAnyOther) {
  EXPECT_EQ(Feed({0x33, 0xBB, 0x82, 0x03, 1, 2, 3, 4, 5}), (std::vector<std::size_t>{8}));
  EXPECT_EQ(state->rxPacket[0], 0x82);
}

TEST_F(FrameParserTest, ResettingTheStateDiscardsAPartialFrame) {
  EXPECT_TRUE(Feed({0x33, 0xBB, 0x80, 0x05, 0x01}).empty());
  state->ResetForProgram();
  EXPECT_EQ(Feed({0x33, 0xBB, 0x80, 0x00, 0x04, 0x84}), (std::vector<std::size_t>{5}));
  EXPECT_EQ(state->rxPacket[2], 0x04);
}

// The checksum is the sum of command, count and data, with the longest body
// too; one flipped bit anywhere in the frame makes it fail.
TEST_F(FrameParserTest, DeviceChecksumIsTheSumOfCommandCountAndData) {
  ASSERT_EQ(Feed({0x33, 0xBB, 0x81, 0x00, 0x02, 0x83}).size(), 1u);
  EXPECT_TRUE(DeviceChecksumHolds(*state));
  ASSERT_EQ(Feed({0x33, 0xBB, 0x81, 0x00, 0x00, 0x80}).size(), 1u);  // a request for block 0, one bit flipped
  EXPECT_FALSE(DeviceChecksumHolds(*state));
  ASSERT_EQ(Feed({0x33, 0xBB, 0x81, 0x00, 0x00, 0x83}).size(), 1u);  // status 2 read as 0
  EXPECT_FALSE(DeviceChecksumHolds(*state));
  ASSERT_EQ(Feed({0x33, 0xBB, 0x82, 0x01, 0x10, 0x20, 0xB3}).size(), 1u);
  EXPECT_TRUE(DeviceChecksumHolds(*state));

  std::vector<std::uint8_t> longest{0x33, 0xBB, 0x81, 0xFF};
  auto sum = static_cast<std::uint8_t>(0x81 + 0xFF);
  for (int i = 0; i < 256; ++i) {
    longest.push_back(static_cast<std::uint8_t>(i * 7));
    sum = static_cast<std::uint8_t>(sum + i * 7);
  }
  longest.push_back(sum);
  ASSERT_EQ(Feed(longest).size(), 1u);
  EXPECT_TRUE(DeviceChecksumHolds(*state));
  longest[100] ^= 0x10;
  ASSERT_EQ(Feed(longest).size(), 1u);
  EXPECT_FALSE(DeviceChecksumHolds(*state));
}

}  // namespace
}  // namespace tarnwick
