// Frames as the host builds them, tarnwick-device run as a child process, and
// a host scripted with plain descriptors on the device's line.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame_codec.h"
#include "temp_dir.h"

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

inline Bytes HostFrame(std::uint8_t command, const std::uint8_t* data, std::size_t length) {
  Bytes source{command};
  source.insert(source.end(), data, data + length);
  Bytes frame(length + kFrameOverhead);
  BuildFrame(source.data(), frame.data(), length);
  return frame;
}
inline Bytes Handshake() { return HostFrame(handshakeSource[0], handshakeSource.data() + 1, kHandshakeDataLength); }
inline Bytes Block(const Bytes& image, std::size_t number, std::uint8_t request) {
  const std::size_t start = number * kBlockSize;
  return HostFrame(request, image.data() + start, std::min(kBlockSize, image.size() - start));
}
inline Bytes Request(std::uint8_t sequence) {
  return {0x33, 0xBB, 0x80, 0x00, sequence, static_cast<std::uint8_t>(0x80 + sequence)};
}
inline Bytes Result(std::uint8_t status) {
  return {0x33, 0xBB, 0x81, 0x00, status, static_cast<std::uint8_t>(0x81 + status)};
}

class DeviceTool {
 public:
  DeviceTool(const std::vector<std::string>& arguments, const TempDir& dir) : errors_(dir.File("stderr.txt")) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all = {TARNWICK_DEVICE};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, TARNWICK_DEVICE, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    stdout_ = out[0];
  }
  ~DeviceTool() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(stdout_);
  }

  // The first line of standard output (the line's path); empty if none comes.
  std::string FirstLine() {
    const auto end = steady_clock::now() + 5s;
    while (output_.find('\n') == std::string::npos && steady_clock::now() < end) ReadOutput(20ms);
    return output_.substr(0, output_.find('\n'));
  }
  // The exit status, or -1 if it has not exited within `timeout`.
  int Wait(milliseconds timeout = 10s) {
    const auto end = steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (steady_clock::now() >= end) return -1;
      ReadOutput(10ms);
    }
    exited_ = true;
    while (ReadOutput(0ms)) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Signal(int number) { kill(pid_, number); }
  bool Said(const std::string& text) const { return output_.find(text) != std::string::npos; }
  const std::string& Output() const { return output_; }
  std::string Errors() const {
    const Bytes bytes = ReadBytes(errors_);
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  bool ReadOutput(milliseconds wait) {
    pollfd entry{stdout_, POLLIN, 0};
    char buffer[4096];
    if (poll(&entry, 1, static_cast<int>(wait.count())) <= 0) return false;
    const ssize_t got = read(stdout_, buffer, sizeof buffer);
    if (got > 0) output_.append(buffer, static_cast<std::size_t>(got));
    return got > 0;
  }

  std::string errors_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int stdout_ = -1;
  std::string output_;
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
      pollfd entry{fd_, POLLIN, 0};
      std::uint8_t buffer[512];
      if (poll(&entry, 1, 20) <= 0) continue;
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      if (got > 0) pending_.insert(pending_.end(), buffer, buffer + got);
      else std::this_thread::sleep_for(5ms);
    }
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
  int fd_;
  Bytes pending_;
};

}  // namespace tarnwick::testing
