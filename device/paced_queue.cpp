#include "paced_queue.h"

#include <algorithm>

namespace tarnwick::device {

LineTime ByteTime(unsigned baud) {
  constexpr long long kBitsPerByte = 10;
  if (baud == 0) return LineTime{0};
  return LineTime{kBitsPerByte * 1'000'000 / static_cast<long long>(baud)};
}

void PacedQueue::Push(const std::uint8_t* bytes, std::size_t count, LineTime now) {
  for (std::size_t i = 0; i < count; ++i) {
    lineFreeAt_ = std::max(lineFreeAt_, now) + byteTime_;
    queue_.push_back({bytes[i], lineFreeAt_});
  }
}

std::vector<std::uint8_t> PacedQueue::PeekDue(LineTime now) const {
  std::vector<std::uint8_t> due;
  for (const Entry& entry : queue_) {
    if (entry.due > now) break;
    due.push_back(entry.byte);
  }
  return due;
}

void PacedQueue::Drop(std::size_t count) {
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(std::min(count, queue_.size())));
}

std::optional<LineTime> PacedQueue::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.front().due;
}

}  // namespace tarnwick::device
