// What a front end says, written off the station's tick. The tick puts each
// piece into a queue of fixed size, and a thread of the queue's own hands it
// to the front end's write function; so a reader that stops reading (a full
// pipe, a paused terminal, a slow client) never holds up a run, and no piece
// allocates.
//
// When the queue is full, a piece that a later one supersedes (a progress
// event, a status text, a redraw of the live lines) is left out and counted
// as coalesced. The other pieces (results, messages, errors, the summary)
// have room set aside for them that the first kind never takes; should even
// that fill up, they go into a list that grows, so none is lost and the loop
// still does not wait. A write that fails (the reader went away) ends that
// output: what is queued for it, and what comes later, is discarded.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::station {

enum class Piece {
  Coalescible,  // superseded by a later piece: may be left out when the queue is full
  Kept,         // never left out
};

// Writes a whole piece to the output `fd` names; false when that output has
// failed for good. Called on the queue's own thread.
using WriteFunction = bool (*)(int fd, const char* data, std::size_t length);

class OutputQueue {
 public:
  // `room` bytes for every kind of piece and `reserve` more that only kept
  // pieces may take. Each piece takes its length and a few bytes more.
  OutputQueue(std::size_t room, std::size_t reserve, WriteFunction write);
  // Finish() must have returned true, or the writer never started.
  ~OutputQueue();
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  // Starts the writer.
  void Start();
  // Queues `length` bytes for the descriptor `fd`. False when a coalescible
  // piece found no room and was left out.
  bool Push(int fd, const char* data, std::size_t length, Piece piece);
  // Waits up to `limit` for everything queued to be written and stops the
  // writer; false when the writer is still held by a reader that does not
  // read (the queue must then outlive the process: see StandardStreams).
  bool Finish(std::chrono::milliseconds limit);

  std::uint64_t coalesced() const;
  // Kept pieces that went into the growing list.
  std::uint64_t overflowed() const;
  // A write to `fd` failed: that output has ended.
  bool ended(int fd) const;

  static constexpr std::size_t kHeader = 8;  // each piece's descriptor and length

 private:
  struct Overflow {
    int fd;
    std::string bytes;
  };

  void Write();
  void Copy(std::uint64_t at, void* to, std::size_t length) const;
  void Store(std::uint64_t at, const void* from, std::size_t length);
  bool EndedLocked(int fd) const;
  void EndLocked(int fd);

  WriteFunction write_;
  std::vector<char> ring_;
  std::size_t reserve_;
  std::uint64_t head_ = 0;  // bytes ever queued in the ring
  std::uint64_t tail_ = 0;  // bytes ever taken off it
  std::deque<Overflow> overflow_;
  std::uint64_t coalesced_ = 0;
  std::uint64_t overflowed_ = 0;
  std::array<int, 4> ended_{-1, -1, -1, -1};
  bool busy_ = false;  // the writer is writing a piece it took
  bool stopping_ = false;
  bool started_ = false;
  mutable std::mutex mutex_;
  std::condition_variable wake_;     // something to write, or stop
  std::condition_variable written_;  // a piece is out
  std::thread writer_;
};

}  // namespace tarnwick::station
