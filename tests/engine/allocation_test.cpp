// A whole run, from the Program press to the success box, allocates nothing.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "counting_new.h"
#include "platform_image_file.h"
#include "run_machine.h"


namespace tarnwick {
namespace {

using testing::allocations;
using testing::counting;

// A device on COM1 with fixed buffers: asks for each block in turn after the
// handshake, and reports success after the first short block.
class LeanDevicePort : public SerialPort {
 public:
  bool Open(const char* name) override { return name[3] == '1'; }
  bool Configure() override { return true; }
  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override {
    const bool handshake = length == kHandshakeFrameLength && data[2] == 0x80 && data[4] == 'q';
    if (handshake) {
      sequence = 0;
      Queue(0x80, 0);
    } else if (length == kBlockSize + kFrameOverhead) {
      sequence = static_cast<std::uint8_t>((sequence + 1) & 0x3F);
      Queue(0x80, sequence);
    } else {
      Queue(0x81, 0);
    }
    return static_cast<std::ptrdiff_t>(length);
  }
  std::size_t BytesWaiting() override { return waiting; }
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) out[i] = buffer[i];
    for (std::size_t i = count; i < waiting; ++i) buffer[i - count] = buffer[i];
    waiting -= count;
    return count;
  }
  void Close() override {}

 private:
  void Queue(std::uint8_t command, std::uint8_t value) {
    const std::uint8_t frame[] = {0x33, 0xBB, command, 0x00, value, static_cast<std::uint8_t>(command + value)};
    for (std::uint8_t byte : frame) buffer[waiting++] = byte;
  }
  std::array<std::uint8_t, 64> buffer{};
  std::size_t waiting = 0;
  std::uint8_t sequence = 0;
};

class CountingWindow : public WindowOps {
 public:
  void SetStatusText(const char*) override { ++statusTexts; }
  void SetReadout(int, std::uint32_t) override {}
  void EnableControl(int, bool) override {}
  void SetProgressRange(std::uint32_t) override {}
  void SetProgressPosition(std::uint32_t position) override { lastPosition = position; }
  bool StartTimer() override { return true; }
  void KillTimer() override {}
  void ShowMessage(const char* text, MessageIcon) override { lastMessage = text; }
  void DestroyMainWindow() override {}

  long statusTexts = 0;
  std::uint32_t lastPosition = 0;
  const char* lastMessage = nullptr;
};

TEST(AllocationTest, WholeRunAllocatesNothingAfterProgram) {
  LeanDevicePort port;
  CountingWindow window;
  testing::PlatformImageFile imageFile;
  auto engine = std::make_unique<ProgrammerEngine>(port, window, imageFile);
  engine->OnInitDialog();
  engine->state().imageLength = kMaxImageLength;

  for (int run = 0; run < 2; ++run) {  // the scan course, then the device-seen course
    window.lastMessage = nullptr;
    allocations = 0;
    counting = true;
    engine->OnProgram();
    for (int tick = 0; tick < 2000 && engine->state().runState != RunIdle; ++tick) engine->OnTimer();
    counting = false;
    ASSERT_NE(window.lastMessage, nullptr) << "run " << run << " did not end";
    EXPECT_STREQ(window.lastMessage, kTextSucceeded);
    EXPECT_EQ(window.lastPosition, kMaxImageLength);
    EXPECT_EQ(allocations, 0) << "run " << run;
  }
  EXPECT_GT(window.statusTexts, 512);
}

TEST(AllocationTest, CounterSeesAnAllocation) {
  allocations = 0;
  counting = true;
  auto probe = std::make_unique<int>(1);
  counting = false;
  EXPECT_EQ(allocations, 1);
}

}  // namespace
}  // namespace tarnwick
