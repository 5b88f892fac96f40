// Frames as the host builds them, tarnwick-device run as a child process, and
// a host scripted with plain descriptors on the device's line.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device_process.h"
#include "frame_codec.h"
#include "temp_dir.h"
#include "wire_frames.h"

namespace tarnwick::testing {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// tarnwick-device as a child process, its standard error kept in the test's folder.
class DeviceTool : public DeviceProcess {
 public:
  DeviceTool(const std::vector<std::string>& arguments, const TempDir& dir)
      : DeviceProcess(TARNWICK_DEVICE, arguments, dir.File("stderr.txt")) {}
};

class ScriptedHost {
 public:
  explicit ScriptedHost(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  explicit ScriptedHost(int fd) : fd_(fd) {}
  ~ScriptedHost() { Close(); }

  int fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  void Send(const Bytes& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t written = write(fd_, bytes.data() + done, bytes.size() - done);
      if (written > 0) done += static_cast<std::size_t>(written);
      else std::this_thread::sleep_for(1ms);
    }
  }

  // The next 6-byte device frame, found by its sync bytes.
  std::optional<Bytes> NextFrame(milliseconds timeout = 5s) {
    const auto end = steady_clock::now() + timeout;
    const Bytes sync = {0x33, 0xBB};
    for (;;) {
      const auto at = std::search(pending_.begin(), pending_.end(), sync.begin(), sync.end());
      if (pending_.end() - at >= 6) {
        Bytes frame(at, at + 6);
        pending_.erase(pending_.begin(), at + 6);
        return frame;
      }
      if (steady_clock::now() >= end) return std::nullopt;
      ReadSome();
    }
  }

  // The next `count` bytes as they come, whatever they are; fewer when the time runs out.
  Bytes NextBytes(std::size_t count, milliseconds timeout = 5s) {
    const auto end = steady_clock::now() + timeout;
    while (pending_.size() < count && steady_clock::now() < end) ReadSome();
    const auto taken = pending_.begin() + static_cast<std::ptrdiff_t>(std::min(count, pending_.size()));
    Bytes bytes(pending_.begin(), taken);
    pending_.erase(pending_.begin(), taken);
    return bytes;
  }

  // Answers every request for `image` as the host's block server does; the result's status.
  std::optional<std::uint8_t> ServeUntilResult(const Bytes& image) {
    Send(Handshake());
    for (std::size_t counter = 0;;) {
      const std::optional<Bytes> frame = NextFrame();
      if (!frame || (*frame)[2] == 0x81) return frame ? std::optional<std::uint8_t>((*frame)[4]) : std::nullopt;
      const std::uint8_t request = (*frame)[4];
      if (request == (counter & 0x3F)) ++counter;
      Send(Block(image, counter - 1, request));
    }
  }

 private:
  void ReadSome() {
    pollfd entry{fd_, POLLIN, 0};
    std::uint8_t buffer[512];
    if (poll(&entry, 1, 20) <= 0) return;
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got > 0) pending_.insert(pending_.end(), buffer, buffer + got);
    else std::this_thread::sleep_for(5ms);
  }

  int fd_;
  Bytes pending_;
};

}  // namespace tarnwick::testing
