// A real pseudo-terminal pair for the serial tests: the test plays the device
// on the master side, the port under test opens the slave by its path.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::testing {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (name != nullptr) slavePath_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() {
    CloseMaster();
    if (held_ >= 0) ::close(held_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }

  // The device's side: what it sends reaches the slave's input.
  void DeviceSends(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    WaitUntil([&] {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
      return done == bytes.size();
    });
  }

  // Whatever has reached the master so far, without waiting.
  std::vector<std::uint8_t> DeviceReceives() {
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[4096];
    for (;;) {
      const ssize_t n = ::read(master_, chunk, sizeof chunk);
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }

  // Reads the master until `count` bytes have come or a few seconds passed.
  std::vector<std::uint8_t> DeviceReceivesAtLeast(std::size_t count) {
    std::vector<std::uint8_t> bytes;
    WaitUntil([&] {
      const auto more = DeviceReceives();
      bytes.insert(bytes.end(), more.begin(), more.end());
      return bytes.size() >= count;
    });
    return bytes;
  }

  // Holds the serial end open and raw, as the device's side of a line does
  // between two hosts: what the device sends then waits there byte for byte,
  // unread, for whoever opens the port next.
  bool HoldSerialEnd() {
    held_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    if (held_ < 0 || ::tcgetattr(held_, &raw) != 0) return false;
    ::cfmakeraw(&raw);
    return ::tcsetattr(held_, TCSANOW, &raw) == 0;
  }

  // Bytes waiting unread at the serial end (it must be held).
  std::size_t WaitingAtSerialEnd() const {
    int waiting = 0;
    return held_ >= 0 && ::ioctl(held_, FIONREAD, &waiting) == 0 ? static_cast<std::size_t>(waiting) : 0;
  }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // Bytes cross a pseudo-terminal through a kernel work queue, not at once.
  template <typename Condition>
  static bool WaitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  int master_ = -1;
  int held_ = -1;  // the serial end, where HoldSerialEnd holds it
  std::string slavePath_;
};

}  // namespace tarnwick::testing
