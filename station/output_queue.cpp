#include "output_queue.h"

#include <algorithm>
#include <cstring>

namespace tarnwick::station {

OutputQueue::OutputQueue(std::size_t room, std::size_t reserve, WriteFunction write)
    : write_(write), ring_(room + reserve), reserve_(reserve) {}

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
      const bool ok = skip || (write_(fd, ring_.data() + at, first) && write_(fd, ring_.data(), length - first));
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
      const bool ok = skip || write_(piece.fd, piece.bytes.data(), piece.bytes.size());
      lock.lock();
      if (!ok) EndLocked(piece.fd);
      busy_ = false;
      written_.notify_all();
      continue;
    }
    if (stopping_) return;
  }
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

}  // namespace tarnwick::station
