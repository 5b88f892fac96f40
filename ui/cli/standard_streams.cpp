#include "standard_streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarnwick::cli {

bool WriteToDescriptor(int fd, const char* data, std::size_t length) {
  while (length > 0) {
#ifdef _WIN32
    const int chunk = static_cast<int>(std::min<std::size_t>(length, 1u << 16));
    const int n = ::_write(fd, data, static_cast<unsigned>(chunk));
    if (n <= 0) return false;
#else
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Someone made the descriptor non-blocking: wait here, never in the loop.
      pollfd ready{fd, POLLOUT, 0};
      ::poll(&ready, 1, 100);
      continue;
    }
    if (n <= 0) return false;
#endif
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}


int DescriptorOf(std::FILE* stream) {
#ifdef _WIN32
  return ::_fileno(stream);
#else
  return ::fileno(stream);
#endif
}

namespace {

// Both descriptors lead to one file: a terminal, or `2>&1` into a pipe or file.
bool SameFile(int a, int b) {
#ifdef _WIN32
  return ::_isatty(a) && ::_isatty(b);
#else
  struct stat first {}, second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
#endif
}

// Room for what may be coalesced, and for each port's kept pieces: a result
// line is at most a few hundred bytes, so each port has room for well over a
// hundred of them before the list has to grow.
constexpr std::size_t kRoom = 64 * 1024;
constexpr std::size_t kReservePerPort = 64 * 1024;
constexpr std::size_t kErrorRoom = 16 * 1024;
constexpr std::size_t kErrorReservePerPort = 32 * 1024;

// Queues whose writer a reader still holds: the writer uses them until the
// process ends, so they are never freed (and never destroyed at exit).
std::array<OutputQueue*, 8> stuckQueues{};
std::size_t stuckCount = 0;

void KeepForItsWriter(std::unique_ptr<OutputQueue>& queue) {
  if (stuckCount < stuckQueues.size()) stuckQueues[stuckCount++] = queue.get();
  (void)queue.release();
}

}  // namespace

StandardStreams::StandardStreams(std::size_t ports)
    : outFd_(DescriptorOf(stdout)), errFd_(DescriptorOf(stderr)) {
  ports = std::max<std::size_t>(ports, 1);
  if (SameFile(outFd_, errFd_)) {
    out_ = std::make_unique<OutputQueue>(kRoom, (kReservePerPort + kErrorReservePerPort) * ports, WriteToDescriptor);
  } else {
    out_ = std::make_unique<OutputQueue>(kRoom, kReservePerPort * ports, WriteToDescriptor);
    err_ = std::make_unique<OutputQueue>(kErrorRoom, kErrorReservePerPort * ports, WriteToDescriptor);
  }
}

StandardStreams::~StandardStreams() {
  // A writer still held: the queue stays for it (the program is ending).
  if (out_ != nullptr && !out_->Finish(std::chrono::milliseconds(0))) KeepForItsWriter(out_);
  if (err_ != nullptr && !err_->Finish(std::chrono::milliseconds(0))) KeepForItsWriter(err_);
}

void StandardStreams::Start() {
  // What went out through the streams before comes first.
  std::fflush(stdout);
  std::fflush(stderr);
  out_->Start();
  if (err_ != nullptr) err_->Start();
}

void StandardStreams::Finish(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const auto left = [&] {
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()),
                    std::chrono::milliseconds(0));
  };
  // Standard error first: it is read, even when standard output is not.
  if (err_ != nullptr && !err_->Finish(left())) KeepForItsWriter(err_);
  if (out_ != nullptr && !out_->Finish(left())) KeepForItsWriter(out_);
}

std::uint64_t StandardStreams::coalesced() const {
  return (out_ != nullptr ? out_->coalesced() : 0) + (err_ != nullptr ? err_->coalesced() : 0);
}

}  // namespace tarnwick::cli
