#include "standard_streams.h"

#include <algorithm>
#include <array>

#include "console.h"

namespace tarnwick::cli {

namespace {

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
  if (console::SameFile(outFd_, errFd_)) {
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
