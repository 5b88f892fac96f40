// Standard output and standard error of tarnwick-cli, written off the loop
// through output queues: a reader that stops reading never holds up a run.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "console.h"
#include "output_queue.h"

namespace tarnwick::cli {

using station::OutputQueue;
using station::Piece;

using console::DescriptorOf;
using console::WriteToDescriptor;

// Standard output and standard error of the program. They share one queue
// when they are the same file (a terminal), so that what is said on each
// keeps its order there; otherwise each has its own, so that a standard
// output nobody reads never holds back the messages on standard error.
class StandardStreams {
 public:
  // Room for `ports` runs' pieces.
  explicit StandardStreams(std::size_t ports);
  ~StandardStreams();

  OutputQueue& out() { return *out_; }
  OutputQueue& err() { return err_ != nullptr ? *err_ : *out_; }
  int outFd() const { return outFd_; }
  int errFd() const { return errFd_; }

  void Start();
  // Writes out what is queued, waiting at most `limit` for a slow reader.
  void Finish(std::chrono::milliseconds limit);
  std::uint64_t coalesced() const;

 private:
  int outFd_;
  int errFd_;
  std::unique_ptr<OutputQueue> out_;
  std::unique_ptr<OutputQueue> err_;  // nullptr: standard error shares out_
};

}  // namespace tarnwick::cli
