#include "programmer_state.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform_image_file.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

using testing::LoadImage;

using testing::RandomBytes;
using testing::TempDir;
using testing::WriteBytes;

std::vector<std::uint8_t> Scrambled(std::vector<std::uint8_t> raw) {
  ScrambleImage(raw.data(), raw.size());
  return raw;
}

class ImageLoaderTest : public ::testing::Test {
 protected:
  std::unique_ptr<ProgrammerState> state = std::make_unique<ProgrammerState>();
  TempDir dir;
};

TEST(ImageKeyTest, DescramblingUndoesScramblingAndWrapsModulo256) {
  // A stored byte smaller than its key entry descrambles to 256 plus the difference.
  std::uint8_t stored[kImageKeyLength] = {};
  DescrambleImage(stored, kImageKeyLength);
  for (std::size_t i = 0; i < kImageKeyLength; ++i) {
    EXPECT_EQ(stored[i], static_cast<std::uint8_t>(256 - imageKey[i]) % 256) << "entry " << i;
  }
  auto raw = RandomBytes(1000, 7);
  auto bytes = Scrambled(raw);
  DescrambleImage(bytes.data(), bytes.size());
  EXPECT_EQ(bytes, raw);
}

TEST(ImageKeyTest, KeyIndexWrapsEveryFiftyBytes) {
  std::vector<std::uint8_t> zeros(101, 0);
  ScrambleImage(zeros.data(), zeros.size());
  EXPECT_EQ(zeros[50], imageKey[0]);
  EXPECT_EQ(zeros[99], imageKey[49]);
  EXPECT_EQ(zeros[100], imageKey[0]);
}

TEST_F(ImageLoaderTest, LoadsAndDescramblesAFile) {
  const auto raw = RandomBytes(1000, 1);
  WriteBytes(dir.File("a.UPL"), Scrambled(raw));
  const LoadResult result = LoadImage(*state, dir.File("a.UPL"));
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_TRUE(result.message.empty());
  ASSERT_EQ(state->imageLength, 1000u);
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), state->imageData.begin()));
}

TEST_F(ImageLoaderTest, TakesOnlyTheFirst65536Bytes) {
  const auto raw = RandomBytes(70000, 2);
  WriteBytes(dir.File("big.UPL"), Scrambled(raw));
  ASSERT_TRUE(LoadImage(*state, dir.File("big.UPL")).ok);
  EXPECT_EQ(state->imageLength, 65536u);
  // Byte 65,535 is descrambled with key entry 35.
  EXPECT_EQ(state->imageData[65535], raw[65535]);
  EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + 65536, state->imageData.begin()));

  const auto exact = RandomBytes(65536, 3);
  WriteBytes(dir.File("exact.UPL"), Scrambled(exact));
  ASSERT_TRUE(LoadImage(*state, dir.File("exact.UPL")).ok);
  EXPECT_EQ(state->imageLength, 65536u);
  EXPECT_TRUE(std::equal(exact.begin(), exact.end(), state->imageData.begin()));
}

TEST_F(ImageLoaderTest, EmptyFileGivesEmptyImage) {
  WriteBytes(dir.File("empty.UPL"), {});
  state->imageLength = 12;
  ASSERT_TRUE(LoadImage(*state, dir.File("empty.UPL")).ok);
  EXPECT_EQ(state->imageLength, 0u);
}

TEST_F(ImageLoaderTest, LoadingTwiceStartsFromTheFileEachTime) {
  const auto raw = RandomBytes(300, 4);
  WriteBytes(dir.File("a.UPL"), Scrambled(raw));
  ASSERT_TRUE(LoadImage(*state, dir.File("a.UPL")).ok);
  ASSERT_TRUE(LoadImage(*state, dir.File("a.UPL")).ok);
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), state->imageData.begin()));
}

TEST_F(ImageLoaderTest, ShorterFileAfterLongerSetsTheShorterLength) {
  const auto longer = RandomBytes(500, 5);
  const auto shorter = RandomBytes(200, 6);
  WriteBytes(dir.File("long.UPL"), Scrambled(longer));
  WriteBytes(dir.File("short.UPL"), Scrambled(shorter));
  ASSERT_TRUE(LoadImage(*state, dir.File("long.UPL")).ok);
  ASSERT_TRUE(LoadImage(*state, dir.File("short.UPL")).ok);
  EXPECT_EQ(state->imageLength, 200u);
  EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), state->imageData.begin()));
}

TEST_F(ImageLoaderTest, LoadLeavesTheRunsCountersAlone) {
  state->bytesSent = 384;
  state->blockCounter = 3;
  state->runState = 3;
  WriteBytes(dir.File("a.UPL"), Scrambled(RandomBytes(10, 8)));
  ASSERT_TRUE(LoadImage(*state, dir.File("a.UPL")).ok);
  EXPECT_EQ(state->bytesSent, 384u);
  EXPECT_EQ(state->blockCounter, 3u);
  EXPECT_EQ(state->runState, 3);
}

// Every failure leaves the image in force untouched and says which file and why.
class FailedLoadTest : public ImageLoaderTest {
 protected:
  void SetUp() override {
    loaded = RandomBytes(777, 9);
    WriteBytes(dir.File("good.UPL"), Scrambled(loaded));
    ASSERT_TRUE(LoadImage(*state, dir.File("good.UPL")).ok);
  }
  void ExpectImageKept() {
    EXPECT_EQ(state->imageLength, 777u);
    EXPECT_TRUE(std::equal(loaded.begin(), loaded.end(), state->imageData.begin()));
  }
  std::vector<std::uint8_t> loaded;
};

TEST_F(FailedLoadTest, MissingFileIsNamed) {
  const std::string path = dir.File("missing.UPL");
  const LoadResult result = LoadImage(*state, path);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, path + " was not found.");
  ExpectImageKept();
}

TEST_F(FailedLoadTest, FolderIsRefused) {
  const LoadResult result = LoadImage(*state, dir.path().string());
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find(dir.path().string()), std::string::npos);
  EXPECT_NE(result.message.find("folder"), std::string::npos);
  ExpectImageKept();
}

#ifndef _WIN32  // FIFOs, device files, POSIX permissions and /proc exist only there
TEST_F(FailedLoadTest, FifoIsRefusedWithoutBlocking) {
  // Opening a FIFO with no writer would block for ever; the loader must not open it.
  const std::string path = dir.File("pipe.UPL");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const LoadResult result = LoadImage(*state, path);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find("not a regular file"), std::string::npos);
  ExpectImageKept();
}

// A regular file swapped for a FIFO at the moment the loader opens it: the
// open must neither wait for a writer nor let the FIFO through.
class SwappedForFifo : public ImageFile {
 public:
  ImageOpenStatus Open(const char* path) override {
    ::unlink(path);
    if (::mkfifo(path, 0600) != 0) return ImageOpenStatus::Failed;
    fifo_ = path;
    std::thread watchdog([this] {
      // A reader stuck in open() is let go by a writer; the test then fails.
      for (int i = 0; i < 300 && !opened_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (opened_) return;
      const int writer = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
      blocked_ = writer >= 0;
      if (writer >= 0) ::close(writer);
    });
    const ImageOpenStatus status = real_.Open(path);
    opened_ = true;
    watchdog.join();
    return status;
  }
  std::ptrdiff_t Read(std::uint8_t* out, std::size_t count) override { return real_.Read(out, count); }
  void Close() override { real_.Close(); }
  bool blocked() const { return blocked_; }

 private:
  testing::PlatformImageFile real_;
  std::string fifo_;
  std::atomic<bool> opened_{false};
  std::atomic<bool> blocked_{false};
};

TEST_F(FailedLoadTest, FileSwappedForAFifoAtTheOpenIsRefusedWithoutBlocking) {
  const std::string path = dir.File("swapped.UPL");
  WriteBytes(path, {1, 2, 3});
  SwappedForFifo file;
  const LoadResult result = LoadImageFile(*state, path, file);
  EXPECT_FALSE(file.blocked()) << "the open waited for a writer";
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, path + " is not a regular file and cannot be loaded as an image.");
  ExpectImageKept();
}

TEST_F(FailedLoadTest, DeviceFileIsRefused) {
  const LoadResult result = LoadImage(*state, "/dev/zero");
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find("/dev/zero"), std::string::npos);
  ExpectImageKept();
}

TEST_F(FailedLoadTest, PermissionDeniedIsSaid) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their permissions";
  const std::string path = dir.File("locked.UPL");
  WriteBytes(path, {1, 2, 3});
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  const LoadResult result = LoadImage(*state, path);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, path + " cannot be opened: access is denied.");
  ExpectImageKept();
}

TEST_F(FailedLoadTest, ReadErrorPartWayKeepsTheImage) {
  // Reading a directory through a file handle fails after the open succeeds on
  // some systems; /proc/self/mem fails on read at offset 0 on Linux. Either way
  // the read fails part-way, which is what matters here.
  const LoadResult result = LoadImage(*state, "/proc/self/mem");
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find("/proc/self/mem"), std::string::npos);
  ExpectImageKept();
}
#endif

TEST(ProgrammerStateTest, ResetsZeroWhatEachStepOwns) {
  auto state = std::make_unique<ProgrammerState>();
  state->runState = 3;
  state->connectStep = 2;
  state->connected = state->armed = state->deviceSeen = 1;
  state->bytesSent = 5;
  state->blockCounter = 6;
  state->stopRequested = state->resultOk = 1;
  state->rxState = 4;
  state->ResetForProgram();
  EXPECT_EQ(state->stopRequested, 0u);
  EXPECT_EQ(state->resultOk, 0u);
  EXPECT_EQ(state->bytesSent, 0u);
  EXPECT_EQ(state->blockCounter, 0u);
  EXPECT_EQ(state->rxState, 0);
  EXPECT_EQ(state->deviceSeen, 1u) << "kept across runs";
  EXPECT_EQ(state->armed, 1u);
  state->ResetForInit();
  EXPECT_EQ(state->runState, 0);
  EXPECT_EQ(state->connectStep, 0);
  EXPECT_EQ(state->connected, 0u);
  EXPECT_EQ(state->armed, 0u);
  EXPECT_EQ(state->deviceSeen, 0u);
}

}  // namespace
}  // namespace tarnwick
