// The device's protocol driven byte by byte, with time passed in by hand.
#include "simulated_device.h"

#include <gtest/gtest.h>

#include "device_tool_harness.h"

namespace tarnwick::device {
namespace {

using testing::Bytes;
using testing::Handshake;
using testing::Request;
using testing::Result;
using Frames = std::vector<Bytes>;

// Plays the host against the device: answers requests as the host's block server does.
class Host {
 public:
  Host(SimulatedDevice& device, Bytes image) : device_(device), image_(std::move(image)) {}

  void Send(const Bytes& bytes) { device_.Receive(bytes.data(), bytes.size(), now); }
  Frames Sent() { return device_.TakeFrames(); }
  void Wait(LineTime time) {
    now += time;
    device_.Advance(now);
  }

  // The frame the host's block server sends for `request`.
  Bytes BlockFor(std::uint8_t request) {
    if (request == (blockCounter_ & 0x3F)) ++blockCounter_;
    return testing::Block(image_, blockCounter_ - 1, request);
  }

  // Answers requests until the result, starting with `pending` if one was
  // already taken; the request bytes seen and the result status (-1: none).
  std::pair<Bytes, int> Serve(std::optional<std::uint8_t> pending = std::nullopt) {
    Bytes requests;
    for (int guard = 0; guard < 2000; ++guard) {
      if (pending) {
        requests.push_back(*pending);
        now += std::chrono::milliseconds(10);
        Send(BlockFor(*pending));
      }
      const Frames frames = Sent();
      if (frames.size() != 1) return {requests, -1};
      if (frames[0] == Request(frames[0][4])) {
        pending = frames[0][4];
      } else {
        return {requests, frames[0] == Result(frames[0][4]) ? frames[0][4] : -1};
      }
    }
    return {requests, -1};
  }

  LineTime now{0};

 private:
  SimulatedDevice& device_;
  Bytes image_;
  std::size_t blockCounter_ = 0;
};

TEST(SimulatedDeviceTest, AnswersOnlyAValidHandshake) {
  SimulatedDevice device({});
  Host host(device, {});
  Bytes wrongWord = Handshake();
  wrongWord[4] = 'x';
  wrongWord[13] = static_cast<std::uint8_t>(wrongWord[13] + 'x' - 'q');  // right checksum, wrong word
  Bytes badChecksum = Handshake();
  ++badChecksum[13];
  host.Send(testing::Block(testing::RandomBytes(10, 1), 0, 0));
  host.Send(wrongWord);
  host.Send(badChecksum);
  host.Send({0x12, 0xCC, 0x34});
  EXPECT_TRUE(host.Sent().empty());

  host.Send(Handshake());
  EXPECT_EQ(host.Sent(), Frames{Request(0)});
}

struct ImageCase {
  std::size_t length;
  std::size_t requests;  // the ending short or empty block included
};

class WholeImageTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(WholeImageTest, ReceivesTheImageWholeAndReportsSuccess) {
  const Bytes image = testing::RandomBytes(GetParam().length, 5);
  SimulatedDevice device({});
  Host host(device, image);
  host.Send(Handshake());
  const auto [requests, status] = host.Serve();

  EXPECT_EQ(status, kStatusSuccess);
  ASSERT_EQ(requests.size(), GetParam().requests);
  for (std::size_t k = 0; k < requests.size(); ++k) ASSERT_EQ(requests[k], k % 64) << "request " << k;
  const std::vector<RunReport> runs = device.TakeFinishedRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].whole);
  EXPECT_EQ(runs[0].image, image);
  EXPECT_FALSE(device.RunInProgress());
}

INSTANTIATE_TEST_SUITE_P(Sizes, WholeImageTest,
                         ::testing::Values(ImageCase{1000, 8},    // last block 104 bytes
                                           ImageCase{0, 1},       // one empty block
                                           ImageCase{256, 3},     // ended by an empty block
                                           ImageCase{65536, 513}  // sequence numbers wrap 8 times
                                           ));

// A device waiting for block 1 of a 1000-byte image.
struct MidRun {
  Bytes image = testing::RandomBytes(1000, 9);
  SimulatedDevice device;
  Host host;
  explicit MidRun(DeviceSettings settings = {}) : device(settings), host(device, image) {
    host.Send(Handshake());
    host.Send(host.BlockFor(host.Sent().at(0)[4]));
    EXPECT_EQ(host.Sent(), Frames{Request(1)});
  }
};

TEST(SimulatedDeviceTest, BadBlocksAreAskedForAgain) {
  MidRun run;
  Bytes corrupted = run.host.BlockFor(1);
  corrupted[50] ^= 0x04;
  run.host.Send(corrupted);
  EXPECT_EQ(run.host.Sent(), Frames{Request(1)}) << "bad checksum";
  run.host.Send(run.host.BlockFor(7));
  EXPECT_EQ(run.host.Sent(), Frames{Request(1)}) << "wrong sequence number";
  run.host.Send({0xCC, 0xDD, 0x01, 0x80});  // count byte: 129 data bytes
  EXPECT_EQ(run.host.Sent(), Frames{Request(1)}) << "bad length";

  // A late copy of block 0 (the host echoes request 0) asks for nothing.
  run.host.Send(testing::Block(run.image, 0, 0));
  EXPECT_TRUE(run.host.Sent().empty());

  EXPECT_EQ(run.host.Serve(1).second, kStatusSuccess);
  const RunReport report = run.device.TakeFinishedRuns().at(0);
  EXPECT_EQ(report.image, run.image);
  EXPECT_EQ(report.badFrames, 3u);
}

TEST(SimulatedDeviceTest, ATimeOutAsksAgainAndDropsAHalfReadBlock) {
  DeviceSettings settings;
  settings.blockTimeout = std::chrono::milliseconds(1500);
  MidRun run(settings);
  const Bytes block = run.host.BlockFor(1);
  run.host.Send(Bytes(block.begin(), block.begin() + 60));
  run.host.Wait(std::chrono::microseconds(1'499'999));
  EXPECT_TRUE(run.host.Sent().empty());
  run.host.Wait(std::chrono::microseconds(1));
  EXPECT_EQ(run.host.Sent(), Frames{Request(1)});

  run.host.Send(run.host.BlockFor(1));
  EXPECT_EQ(run.host.Sent(), Frames{Request(2)});
}

TEST(SimulatedDeviceTest, GivesUpAfterTheRetryBound) {
  MidRun run;
  for (int tries = 2; tries <= kDefaultTriesPerBlock; ++tries) {
    run.host.Wait(std::chrono::seconds(1));
    ASSERT_EQ(run.host.Sent(), Frames{Request(1)}) << "try " << tries;
  }
  Bytes corrupted = run.host.BlockFor(1);
  corrupted.back() ^= 0xFF;
  run.host.Send(corrupted);
  EXPECT_EQ(run.host.Sent(), Frames{Result(kStatusGaveUp)});
  const RunReport report = run.device.TakeFinishedRuns().at(0);
  EXPECT_FALSE(report.whole);
  EXPECT_EQ(report.requests, 1u + kDefaultTriesPerBlock);
  EXPECT_EQ(report.timeouts, 9u);
  EXPECT_FALSE(run.device.NextDeadline());
}

TEST(SimulatedDeviceTest, AHandshakeMidRunStartsOverFromBlockZero) {
  MidRun run;
  const Bytes image = testing::RandomBytes(300, 10);
  Host newHost(run.device, image);
  newHost.Send(Handshake());
  EXPECT_EQ(newHost.Sent(), Frames{Request(0)});
  EXPECT_EQ(newHost.Serve(0), std::make_pair(Bytes{0, 1, 2}, int{kStatusSuccess}));
  const std::vector<RunReport> runs = run.device.TakeFinishedRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].image, image);
}

TEST(SimulatedDeviceTest, AnswerAfterSilentAndForcedStatus) {
  DeviceSettings late;
  late.answerAfter = 3;
  SimulatedDevice device(late);
  Host host(device, testing::RandomBytes(200, 3));
  host.Send(Handshake());
  host.Send(Handshake());
  EXPECT_TRUE(host.Sent().empty());
  host.Send(Handshake());
  EXPECT_EQ(host.Serve().second, kStatusSuccess);
  Host nextPress(device, testing::RandomBytes(10, 4));  // one handshake, answered
  nextPress.Send(Handshake());
  EXPECT_EQ(nextPress.Serve().second, kStatusSuccess);

  DeviceSettings silent;
  silent.silent = true;
  SimulatedDevice mute(silent);
  Host unheard(mute, {});
  for (int i = 0; i < 20; ++i) unheard.Send(Handshake());
  unheard.Wait(std::chrono::hours(1));
  EXPECT_TRUE(unheard.Sent().empty());

  DeviceSettings forced;
  forced.forcedStatus = 0x05;
  SimulatedDevice failing(forced);
  Host served(failing, testing::RandomBytes(500, 6));
  served.Send(Handshake());
  EXPECT_EQ(served.Serve().second, 0x05);
  EXPECT_TRUE(failing.TakeFinishedRuns().at(0).whole);
}

TEST(SimulatedDeviceTest, RepeatAsksAgainForGoodBlocksWithinTheBound) {
  const Bytes image = testing::RandomBytes(2000, 7);
  DeviceSettings sometimes;
  sometimes.repeatRate = 0.5;
  SimulatedDevice device(sometimes);
  Host host(device, image);
  host.Send(Handshake());
  const auto [requests, status] = host.Serve();
  EXPECT_EQ(status, kStatusSuccess);
  EXPECT_GT(requests.size(), 20u) << "16 blocks, about half asked for twice";
  EXPECT_EQ(device.TakeFinishedRuns().at(0).image, image);

  DeviceSettings always;
  always.repeatRate = 1.0;
  SimulatedDevice stubborn(always);
  Host other(stubborn, image);
  other.Send(Handshake());
  EXPECT_EQ(other.Serve(), std::make_pair(Bytes(kDefaultTriesPerBlock, 0), int{kStatusGaveUp}));
}

TEST(SimulatedDeviceTest, AnImagePast65536BytesIsRefused) {
  SimulatedDevice device({});
  Host host(device, testing::RandomBytes(65536 + 128, 8));
  host.Send(Handshake());
  EXPECT_EQ(host.Serve().second, kStatusImageTooLong);
  EXPECT_FALSE(device.TakeFinishedRuns().at(0).whole);
}

}  // namespace
}  // namespace tarnwick::device
