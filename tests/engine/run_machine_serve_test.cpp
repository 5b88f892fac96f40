// Serving the device's block requests, the read-outs and the end of a run.
#include <gtest/gtest.h>

#include "engine_fakes.h"
#include "run_machine.h"

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::EngineHarness;
using testing::Request;
using testing::Result;

class ServeTest : public ::testing::Test, public EngineHarness {
 protected:
  // What the block frame for `request` carrying `data` must look like.
  static Bytes BlockFrame(std::uint8_t request, const Bytes& data) {
    Bytes source{request};
    source.insert(source.end(), data.begin(), data.end());
    Bytes frame(data.size() + kFrameOverhead);
    BuildFrame(source.data(), frame.data(), data.size());
    return frame;
  }
  static Bytes Slice(const Bytes& image, std::size_t start, std::size_t length) {
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(start),
                 image.begin() + static_cast<std::ptrdiff_t>(start + length));
  }
  // Asks for `request` and runs one polling tick.
  void Ask(std::uint8_t request) {
    port.Deliver(Request(request));
    Tick();
  }
};

TEST_F(ServeTest, ThousandByteImageInEightBlocks) {
  const Bytes image = testing::Pattern(1000);
  SetImage(image);
  ConnectOnCom1();
  window.statuses.clear();
  for (std::uint8_t sequence = 1; sequence < 8; ++sequence) Ask(sequence);

  const auto blocks = port.Blocks();
  ASSERT_EQ(blocks.size(), 8u);
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(blocks[i], BlockFrame(static_cast<std::uint8_t>(i), Slice(image, i * 128, 128))) << "block " << i;
  }
  EXPECT_EQ(blocks[7], BlockFrame(7, Slice(image, 896, 104)));
  EXPECT_EQ(window.statuses,
            (std::vector<std::string>{"Programming...    25% Done  ", "Programming...    38% Done  ",
                                      "Programming...    51% Done  ", "Programming...    64% Done  ",
                                      "Programming...    76% Done  ", "Programming...    89% Done  ",
                                      "Programming...    100% Done  ", "Done"}));
  EXPECT_EQ(window.readouts[IdBytesSent], 1000u);
  EXPECT_EQ(window.progressMax, 1000u);
  EXPECT_EQ(window.positions.front(), 128u);
  EXPECT_EQ(window.progressPosition, 1000u);
  EXPECT_TRUE(window.IsEnabled(IdProgram));
  EXPECT_FALSE(window.IsEnabled(IdStop));
  EXPECT_EQ(engine->state().runState, RunProgramming) << "the run waits for the result";

  port.Deliver(Result(0));
  Tick();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "   Programming Device Succeed!   ");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(engine->state().runState, RunIdle);
  EXPECT_TRUE(port.isOpen) << "the port stays open for the next run";
}

TEST_F(ServeTest, FirstBlockShowsTwelvePercent) {
  SetImage(testing::Pattern(1000));
  port.openable[0] = true;
  engine->OnProgram();
  Tick(2);
  port.Deliver(Request(0));
  Tick();
  EXPECT_EQ(window.status, "Programming...    12% Done  ");
}

TEST_F(ServeTest, FullImageTakes512BlocksWithSequenceNumbersWrapping) {
  const Bytes image = testing::Pattern(65536);
  SetImage(image);
  ConnectOnCom1();
  for (int block = 1; block < 512; ++block) Ask(static_cast<std::uint8_t>(block % 64));
  const auto blocks = port.Blocks();
  ASSERT_EQ(blocks.size(), 512u);
  for (std::size_t i = 0; i < 512; ++i) {
    ASSERT_EQ(blocks[i][2], i % 64);
    ASSERT_EQ(blocks[i], BlockFrame(static_cast<std::uint8_t>(i % 64), Slice(image, i * 128, 128))) << i;
  }
  EXPECT_EQ(window.progressPosition, 65536u);
  EXPECT_EQ(window.progressMax, 65536u);
  EXPECT_EQ(window.status, "Done");
}

TEST_F(ServeTest, RepeatedRequestSendsTheSameBlockAgain) {
  const Bytes image = testing::Pattern(1000);
  SetImage(image);
  ConnectOnCom1();
  Ask(1);
  const auto statusesBefore = window.statuses.size();
  Ask(1);
  const auto blocks = port.Blocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[2], blocks[1]);
  EXPECT_EQ(window.readouts[IdBytesSent], 256u);
  EXPECT_EQ(engine->state().blockCounter, 2u);
  EXPECT_EQ(window.statuses.size(), statusesBefore + 1);
  EXPECT_EQ(window.status, "Programming...    25% Done  ");
}

// The device asks again for block 3, but the host reads 4 (one bit flipped on
// the way) and serves block 4. The device, still waiting for 3, asks for 3:
// it must get block 3's bytes, never block 4's under the number 3.
TEST_F(ServeTest, MisreadRequestIsUndoneWhenTheDeviceAsksForAnEarlierBlock) {
  const Bytes image = testing::Pattern(8 * 128);
  SetImage(image);
  ConnectOnCom1();
  for (std::uint8_t sequence = 1; sequence <= 3; ++sequence) Ask(sequence);
  Ask(4);  // misread "3 again"
  EXPECT_EQ(window.readouts[IdBytesSent], 640u);
  Ask(3);
  EXPECT_EQ(port.Blocks().back(), BlockFrame(3, Slice(image, 384, 128)));
  EXPECT_EQ(engine->state().blockCounter, 4u);
  EXPECT_EQ(window.readouts[IdBytesSent], 512u);
  EXPECT_EQ(window.progressPosition, 512u);
  EXPECT_EQ(window.status, "Programming...    50% Done  ");

  // Two misreads in a row put the host two blocks ahead; the device's number
  // still names the block it waits for.
  Ask(4);
  Ask(5);  // misread "4 again"
  Ask(6);  // misread "4 again"
  Ask(4);
  EXPECT_EQ(port.Blocks().back(), BlockFrame(4, Slice(image, 512, 128)));
  EXPECT_EQ(window.readouts[IdBytesSent], 640u);
  // A misread number far back serves that block; the device's next request
  // still reaches the furthest block it may wait for.
  Ask(1);
  EXPECT_EQ(port.Blocks().back(), BlockFrame(1, Slice(image, 128, 128)));
  Ask(7);
  EXPECT_EQ(port.Blocks().back(), BlockFrame(7, Slice(image, 896, 128)));
  EXPECT_EQ(window.status, "Done");
}

TEST_F(ServeTest, StepBackCrossesTheWrapOfTheSequenceNumbers) {
  const Bytes image = testing::Pattern(kMaxImageLength);
  SetImage(image);
  ConnectOnCom1();
  for (int block = 1; block <= 64; ++block) Ask(static_cast<std::uint8_t>(block & 0x3F));
  // Block 64 (number 0) was served; the device asks for block 63 again.
  Ask(63);
  EXPECT_EQ(port.Blocks().back(), BlockFrame(63, Slice(image, 63 * 128, 128)));
  EXPECT_EQ(engine->state().blockCounter, 64u);
}

TEST_F(ServeTest, RequestBytesAbove63NeverAdvance) {
  const Bytes image = testing::Pattern(1000);
  SetImage(image);
  ConnectOnCom1();
  for (int request = 64; request <= 255; ++request) {
    port.Deliver(Request(static_cast<std::uint8_t>(request)));
  }
  Tick(10);
  const auto blocks = port.Blocks();
  ASSERT_EQ(blocks.size(), 1u + 192u);
  for (std::size_t i = 1; i < blocks.size(); ++i) {
    EXPECT_EQ(blocks[i], BlockFrame(static_cast<std::uint8_t>(63 + i), Slice(image, 0, 128)));
  }
  EXPECT_EQ(engine->state().blockCounter, 1u);
}

TEST_F(ServeTest, TwoRequestsInOnePollAreAnsweredInOrder) {
  const Bytes image = testing::Pattern(1000);
  SetImage(image);
  ConnectOnCom1();
  // When the first answer goes out, the second request must not have been acted on yet.
  std::vector<std::uint32_t> countersAtWrite;
  port.onWrite = [&](const Bytes&) { countersAtWrite.push_back(engine->state().blockCounter); };
  Bytes both = Request(1);
  const Bytes second = Request(2);
  both.insert(both.end(), second.begin(), second.end());
  port.Deliver(both);
  Tick();
  EXPECT_EQ(countersAtWrite, (std::vector<std::uint32_t>{2, 3}));
  const auto blocks = port.Blocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1], BlockFrame(1, Slice(image, 128, 128)));
  EXPECT_EQ(blocks[2], BlockFrame(2, Slice(image, 256, 128)));
}

TEST_F(ServeTest, RequestAndSuccessInOnePollEndTheRunInThatTick) {
  SetImage(testing::Pattern(200));
  ConnectOnCom1();
  Bytes bytes = Request(1);
  const Bytes result = Result(0);
  bytes.insert(bytes.end(), result.begin(), result.end());
  port.Deliver(bytes);
  Tick();
  EXPECT_EQ(port.Blocks().size(), 2u);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "   Programming Device Succeed!   ");
  EXPECT_EQ(engine->state().runState, RunIdle);
}

TEST_F(ServeTest, TicksDuringTheSuccessBoxDoNothing) {
  SetImage(testing::Pattern(100));
  ConnectOnCom1();
  int readsDuringBox = -1;
  window.whileBoxOpen = [&](const std::string&) {
    const int before = port.reads;
    port.Deliver(Request(0));
    Tick(20);
    readsDuringBox = port.reads - before;
  };
  port.Deliver(Result(0));
  Tick();
  EXPECT_EQ(readsDuringBox, 0);
  EXPECT_EQ(window.messages.size(), 1u);
}

TEST_F(ServeTest, UnknownCommandChangesNothing) {
  SetImage(testing::Pattern(300));
  ConnectOnCom1();
  port.Deliver({0x33, 0xBB, 0x82, 0x03, 1, 2, 3, 4, 5});
  Tick();
  EXPECT_EQ(port.Blocks().size(), 1u);
  EXPECT_EQ(engine->state().resultOk, 0u);
  EXPECT_TRUE(window.messages.empty());
}

// A result with a non-zero status is reported and ends the run, as success
// does: the ticks while its box is open find the run idle, so neither a
// request nor a later result nor the port's loss is acted on or boxed; the
// port stays open and Program starts again at once.
TEST_F(ServeTest, FailedResultIsReportedOnceAndEndsTheRun) {
  SetImage(testing::Pattern(200));
  ConnectOnCom1();
  int boxesSeenInside = 0;
  bool idleInside = false;
  window.whileBoxOpen = [&](const std::string& text) {
    if (text != kTextFailed) return;
    idleInside = engine->state().runState == RunIdle && window.IsEnabled(IdProgram) && !window.IsEnabled(IdStop);
    port.Deliver(Result(2));
    port.Deliver(Request(1));
    Tick(3);
    port.failed = true;  // the device closes the line
    Tick(3);
    boxesSeenInside = window.openBoxes;
  };
  const std::size_t blocksBefore = port.Blocks().size();
  port.Deliver(Result(1));
  Tick();
  ASSERT_EQ(window.messages.size(), 1u) << "no box after the failure's";
  EXPECT_EQ(window.messages[0].text, "   Programming Device Fail!    ");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(boxesSeenInside, 1);
  EXPECT_TRUE(idleInside) << "idle, Program enabled and Stop disabled before the box";
  EXPECT_EQ(port.Blocks().size(), blocksBefore) << "the ended run serves no request";
  EXPECT_EQ(engine->lastOutcome(), RunOutcome::Failure);
  EXPECT_EQ(engine->lastDeviceStatus(), 1);
  EXPECT_TRUE(port.isOpen) << "the port stays open for the next run";

  window.whileBoxOpen = nullptr;
  port.failed = false;
  engine->OnProgram();  // the device was seen: greeted at once on the open port
  EXPECT_EQ(engine->state().runState, RunConnected);
  EXPECT_EQ(engine->lastOutcome(), RunOutcome::None);
}

// Requests that name no block of the image get an empty block echoing the request.
TEST_F(ServeTest, NonMatchingFirstRequestGetsAnEmptyBlock) {
  SetImage(testing::Pattern(300));
  port.openable[0] = true;
  engine->OnProgram();
  Tick(2);
  port.Deliver(Request(5));
  Tick();
  ASSERT_EQ(port.Blocks().size(), 1u);
  EXPECT_EQ(port.Blocks()[0], BlockFrame(5, {}));
  EXPECT_EQ(engine->state().blockCounter, 0u);
  EXPECT_EQ(engine->state().bytesSent, 0u);
}

TEST_F(ServeTest, RequestPastAShortLastBlockGetsAnEmptyBlock) {
  const Bytes image = testing::Pattern(300);
  SetImage(image);
  ConnectOnCom1();
  Ask(1);
  Ask(2);  // the last block, 44 bytes
  EXPECT_EQ(port.Blocks().back(), BlockFrame(2, Slice(image, 256, 44)));
  Ask(3);  // past the end, and again: the counter stays on the last block
  Ask(3);
  Ask(4);  // a number the device cannot be waiting for names no block either
  Ask(2);  // the last block again
  const auto blocks = port.Blocks();
  EXPECT_EQ(blocks[3], BlockFrame(3, {}));
  EXPECT_EQ(blocks[4], BlockFrame(3, {}));
  EXPECT_EQ(blocks[5], BlockFrame(4, {}));
  EXPECT_EQ(blocks[6], BlockFrame(2, Slice(image, 256, 44)));
  EXPECT_EQ(engine->state().blockCounter, 3u);
  EXPECT_EQ(engine->state().bytesSent, 300u);
}

TEST_F(ServeTest, ImageEndingOnABlockBoundaryEndsWithOneEmptyBlock) {
  const Bytes image = testing::Pattern(256);
  SetImage(image);
  ConnectOnCom1();
  Ask(1);
  EXPECT_EQ(window.status, "Done");
  window.statuses.clear();
  Ask(2);  // the empty block at the very end: counted, end-of-image actions again
  EXPECT_EQ(port.Blocks().back(), BlockFrame(2, {}));
  EXPECT_EQ(engine->state().blockCounter, 3u);
  EXPECT_EQ(window.statuses, (std::vector<std::string>{"Programming...    100% Done  ", "Done"}));
  Ask(3);  // after the empty block: nothing left to count
  EXPECT_EQ(port.Blocks().back(), BlockFrame(3, {}));
  EXPECT_EQ(engine->state().blockCounter, 3u);
}

TEST_F(ServeTest, EmptyImageIsWhollySentAtOneHundredPercent) {
  SetImage({});
  ConnectOnCom1();
  EXPECT_EQ(port.Blocks()[0], BlockFrame(0, {}));
  EXPECT_EQ(window.statuses[window.statuses.size() - 3], "Programming...    100% Done  ");
  EXPECT_EQ(window.readouts[IdBytesSent], 0u);
  EXPECT_TRUE(window.IsEnabled(IdProgram));
}

TEST_F(ServeTest, ImageLoadedDuringARunIsServedFromThenOn) {
  SetImage(testing::Pattern(1000));
  ConnectOnCom1();
  Ask(1);
  Bytes shorter(300, 0xAB);
  SetImage(shorter);
  Ask(2);  // block 3 of the new image: bytes 256..299
  EXPECT_EQ(port.Blocks().back(), BlockFrame(2, Slice(shorter, 256, 44)));
  EXPECT_EQ(window.progressMax, 300u);
  EXPECT_EQ(window.status, "Done");
  SetImage(Bytes(100, 0xCD));
  Ask(3);  // would start at 384, past the 100-byte image in force
  EXPECT_EQ(port.Blocks().back(), BlockFrame(3, {}));
  Ask(2);  // the last block served lies past the new end too
  EXPECT_EQ(port.Blocks().back(), BlockFrame(2, {}));
}

// A request for block 0 with one bit flipped on the line (0x80 to 0x81)
// reads as the result "status 0"; so does a result left from an earlier run.
TEST_F(ServeTest, SuccessBeforeTheEndOfTheImageIsNotTakenForSuccess) {
  SetImage(testing::Pattern(300));
  ConnectOnCom1();
  port.Deliver(Result(0));
  Tick();
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(engine->state().runState, RunProgramming);
  Ask(1);
  Ask(2);  // the end of the image
  port.Deliver(Result(0));
  Tick();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, kTextSucceeded);
}

// A result damaged on the line decides nothing, whichever way it reads: a
// request for block 0 with one bit flipped, or a failure read as success.
TEST_F(ServeTest, ResultWhoseChecksumFailsIsDroppedAndToldOf) {
  SetImage(testing::Pattern(300));
  ConnectOnCom1();
  Ask(1);
  Ask(2);  // the end of the image
  port.Deliver({0x33, 0xBB, 0x81, 0x00, 0x00, 0x80});
  Tick();
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(engine->lastOutcome(), RunOutcome::None);
  EXPECT_EQ(engine->droppedResults(), 1u);
  EXPECT_EQ(window.detail, "A result from the device arrived damaged (checksum wrong) and was ignored (1 in this run).");
  port.Deliver({0x33, 0xBB, 0x81, 0x00, 0x00, 0x83});  // status 2 with its checksum, status read as 0
  port.Deliver({0x33, 0xBB, 0x81, 0x00, 0x02, 0x84});  // a failure whose checksum is off by one
  Tick();
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(engine->droppedResults(), 3u);
  EXPECT_EQ(engine->state().runState, RunProgramming);

  port.Deliver(Result(2));  // the same failure, whole
  Tick();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, kTextFailed);
  EXPECT_EQ(engine->lastDeviceStatus(), 2);

  engine->OnProgram();  // a new run counts from 0 again
  EXPECT_EQ(engine->droppedResults(), 0u);
}

// Asking again and again for a block the device already has, or for what
// lies past the end of the image, is not progress: the stall bound holds.
TEST_F(ServeTest, RepeatedRequestsDoNotKeepAStalledRunAlive) {
  SetImage(testing::Pattern(300));
  ConnectOnCom1();
  Ask(1);
  for (int i = 0; i < 98; ++i) Ask(1);  // block 1 again, every tick
  EXPECT_TRUE(window.detail.empty());
  Ask(2);  // the last block, new: the count starts again
  EXPECT_EQ(engine->ticksWithoutProgress(), 0u);
  for (int i = 0; i < 99; ++i) Ask(static_cast<std::uint8_t>(3 + i % 2));  // past the end
  EXPECT_TRUE(window.detail.empty());
  Ask(3);
  EXPECT_EQ(window.detail, kTextStalled);
  EXPECT_EQ(engine->ticksWithoutProgress(), 100u);

  port.Deliver(Result(2));  // a result moves the run on
  Tick();
  EXPECT_EQ(engine->ticksWithoutProgress(), 0u);
}

TEST_F(ServeTest, QuietDeviceIsNoticedAfterTenSecondsAndTheRunGoesOn) {
  SetImage(testing::Pattern(1000));
  ConnectOnCom1();
  Ask(1);
  Tick(99);
  EXPECT_TRUE(window.detail.empty());
  EXPECT_FALSE(window.IsEnabled(IdProgram));
  Tick();  // 10 s after the last request
  EXPECT_EQ(window.detail, kTextStalled);
  EXPECT_TRUE(window.IsEnabled(IdProgram));
  EXPECT_EQ(window.status, "Programming...    25% Done  ");
  EXPECT_EQ(engine->ticksWithoutProgress(), 100u);
  EXPECT_TRUE(window.messages.empty());

  Ask(2);  // the device is back: the run goes on as before
  EXPECT_EQ(port.Blocks().back(), BlockFrame(2, Slice(testing::Pattern(1000), 256, 128)));
  EXPECT_FALSE(window.IsEnabled(IdProgram));
  EXPECT_EQ(engine->ticksWithoutProgress(), 0u);

  Tick(100);
  ASSERT_EQ(window.detail, kTextStalled);
  const auto opens = port.opened.size();
  const auto handshakes = port.HandshakesWritten();
  engine->OnProgram();  // starts over on the same port, without a scan
  EXPECT_EQ(port.HandshakesWritten(), handshakes + 1);
  EXPECT_EQ(port.opened.size(), opens);
  EXPECT_EQ(engine->state().runState, RunConnected);
}

TEST_F(ServeTest, LostPortEndsTheRunWithItsBoxAndTheNextProgramScans) {
  SetImage(testing::Pattern(1000));
  ConnectOnCom1();
  Ask(1);
  port.failed = true;  // the adapter is pulled
  int ticksDuringBox = 0;
  window.whileBoxOpen = [&](const std::string&) {
    const auto reads = port.reads;
    Tick(3);
    ticksDuringBox += port.reads - reads;
  };
  Tick();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "The connection to the device on COM1 was lost.");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(window.detail, "Input/output error");
  EXPECT_EQ(ticksDuringBox, 0);
  EXPECT_EQ(engine->lastOutcome(), RunOutcome::PortLost);
  EXPECT_EQ(engine->state().runState, RunIdle);
  EXPECT_FALSE(port.isOpen);
  EXPECT_EQ(port.closes, 1);
  EXPECT_TRUE(window.IsEnabled(IdProgram));
  EXPECT_FALSE(window.IsEnabled(IdStop));
  EXPECT_EQ(engine->state().imageLength, 1000u);
  Tick(5);
  EXPECT_EQ(window.messages.size(), 1u);

  engine->OnProgram();
  Tick(2);
  EXPECT_EQ(port.opened.back(), "COM1");
  EXPECT_TRUE(port.isOpen);
  EXPECT_EQ(engine->state().runState, RunConnecting);
}

TEST_F(ServeTest, PortLostWithTheDeviceSeenHandshakeEndsTheRunToo) {
  SetImage(testing::Pattern(100));
  ConnectOnCom1();
  port.Deliver(Result(0));
  Tick();
  ASSERT_EQ(engine->lastOutcome(), RunOutcome::Success);
  port.failed = true;
  engine->OnProgram();  // the handshake write fails
  Tick();
  ASSERT_EQ(window.messages.size(), 2u);
  EXPECT_EQ(window.messages[1].text, "The connection to the device on COM1 was lost.");
  EXPECT_EQ(engine->state().runState, RunIdle);
}

}  // namespace
}  // namespace tarnwick
