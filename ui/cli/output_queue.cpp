#include "output_queue.h"

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

OutputQueue::OutputQueue(std::size_t room, std::size_t reserve) : ring_(room + reserve), reserve_(reserve) {}

OutputQueue::~OutputQueue() {
  if (!writer_.joinable()) return;
  {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  writer_.join();
}

void OutputQueue::Start() {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  writer_ = std::thread([this] { Write(); });
}

void OutputQueue::Copy(std::uint64_t at, void* to, std::size_t length) const {
  const std::size_t offset = static_cast<std::size_t>(at % ring_.size());
  const std::size_t first = std::min(length, ring_.size() - offset);
  std::memcpy(to, ring_.data() + offset, first);
  std::memcpy(static_cast<char*>(to) + first, ring_.data(), length - first);
}

void OutputQueue::Store(std::uint64_t at, const void* from, std::size_t length) {
  const std::size_t offset = static_cast<std::size_t>(at % ring_.size());
  const std::size_t first = std::min(length, ring_.size() - offset);
  std::memcpy(ring_.data() + offset, from, first);
  std::memcpy(ring_.data(), static_cast<const char*>(from) + first, length - first);
}

bool OutputQueue::EndedLocked(int fd) const { return std::find(ended_.begin(), ended_.end(), fd) != ended_.end(); }

void OutputQueue::EndLocked(int fd) {
  const auto free = std::find(ended_.begin(), ended_.end(), -1);
  if (free != ended_.end()) *free = fd;
}

bool OutputQueue::ended(int fd) const {
  std::lock_guard lock(mutex_);
  return EndedLocked(fd);
}

std::uint64_t OutputQueue::coalesced() const {
  std::lock_guard lock(mutex_);
  return coalesced_;
}

std::uint64_t OutputQueue::overflowed() const {
  std::lock_guard lock(mutex_);
  return overflowed_;
}

bool OutputQueue::Push(int fd, const char* data, std::size_t length, Piece piece) {
  {
    std::lock_guard lock(mutex_);
    if (EndedLocked(fd)) return true;  // nobody reads it any more
    const std::uint64_t need = kHeader + length;
    const std::uint64_t used = head_ - tail_;
    if (piece == Piece::Coalescible) {
      // Behind kept pieces in the list it would come out of order; and it
      // never takes the room kept for the others.
      if (!overflow_.empty() || used + need > ring_.size() - reserve_) {
        ++coalesced_;
        return false;
      }
    } else if (!overflow_.empty() || used + need > ring_.size()) {
      // Only a reader that has not read for a long while gets here: the list
      // grows rather than a result being lost or the loop waiting.
      overflow_.push_back({fd, std::string(data, length)});
      ++overflowed_;
      wake_.notify_one();
      return true;
    }
    const std::uint32_t header[2] = {static_cast<std::uint32_t>(fd), static_cast<std::uint32_t>(length)};
    Store(head_, header, kHeader);
    Store(head_ + kHeader, data, length);
    head_ += need;
  }
  wake_.notify_one();
  return true;
}

// The writer takes one piece at a time and writes it with the lock let go;
// the loop only ever fills the part of the ring it has not yet taken.
void OutputQueue::Write() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return head_ != tail_ || !overflow_.empty() || stopping_; });
    if (head_ != tail_) {
      std::uint32_t header[2];
      Copy(tail_, header, kHeader);
      const int fd = static_cast<int>(header[0]);
      const std::size_t length = header[1];
      const std::size_t at = static_cast<std::size_t>((tail_ + kHeader) % ring_.size());
      const std::size_t first = std::min(length, ring_.size() - at);
      const bool skip = EndedLocked(fd);
      busy_ = true;
      lock.unlock();
      const bool ok = skip || (WriteAll(fd, ring_.data() + at, first) && WriteAll(fd, ring_.data(), length - first));
      lock.lock();
      if (!ok) EndLocked(fd);
      tail_ += kHeader + length;
      busy_ = false;
      written_.notify_all();
      continue;
    }
    if (!overflow_.empty()) {
      Overflow piece = std::move(overflow_.front());
      overflow_.pop_front();
      const bool skip = EndedLocked(piece.fd);
      busy_ = true;
      lock.unlock();
      const bool ok = skip || WriteAll(piece.fd, piece.bytes.data(), piece.bytes.size());
      lock.lock();
      if (!ok) EndLocked(piece.fd);
      busy_ = false;
      written_.notify_all();
      continue;
    }
    if (stopping_) return;
  }
}

bool OutputQueue::WriteAll(int fd, const char* data, std::size_t length) {
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

bool OutputQueue::Finish(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  if (!started_) return true;
  stopping_ = true;
  wake_.notify_all();
  const bool drained =
      written_.wait_for(lock, limit, [this] { return head_ == tail_ && overflow_.empty() && !busy_; });
  started_ = false;
  lock.unlock();
  if (drained) {
    writer_.join();
  } else {
    writer_.detach();
  }
  return drained;
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
    out_ = std::make_unique<OutputQueue>(kRoom, (kReservePerPort + kErrorReservePerPort) * ports);
  } else {
    out_ = std::make_unique<OutputQueue>(kRoom, kReservePerPort * ports);
    err_ = std::make_unique<OutputQueue>(kErrorRoom, kErrorReservePerPort * ports);
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
