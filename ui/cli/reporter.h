// What the runs show, as the user asked for it: JSON Lines; a live line per
// port on a terminal; or, when the output is not a terminal, each status text
// as it changes. Messages and errors go to standard error, results to
// standard output. Everything said during a tick is formatted in fixed
// buffers and handed to the output queues at once; the loop never waits for
// a reader (see output_queue.h).
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "json_line.h"
#include "lane.h"
#include "standard_streams.h"

namespace tarnwick::cli {

using station::ImageInfo;
using station::JsonLine;
using station::Lane;
using station::RunResult;
using station::RunStart;
using station::SteadyTime;

struct ReportOptions {
  bool json = false;
  bool live = false;   // standard output is a terminal: redraw a line per port
  bool quiet = false;  // results and errors only
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // The queues that carry what goes to `out` and `err` (they may be one);
  // without them each piece is written to the stream there and then.
  OutputQueue* outQueue = nullptr;
  OutputQueue* errQueue = nullptr;
};

class Reporter final : public station::StationObserver, public station::TraceSink {
 public:
  Reporter(const ReportOptions& options, SteadyTime start, const ImageInfo& image);

  // The lanes the live lines show, in order.
  void Watch(const std::vector<std::unique_ptr<Lane>>& lanes);

  void Status(const Lane& lane, const char* text) override;
  void Detail(const Lane& lane, const char* detail) override;
  void Progress(const Lane& lane, std::uint32_t sent, std::uint32_t total) override;
  void Message(const Lane& lane, const char* text, MessageIcon icon) override;
  void Result(const Lane& lane, const RunResult& result) override;
  // Says why the log failed (the first time) and puts the record it did not
  // take on standard error.
  void NotLogged(const char* failure, bool first, const char* record, std::size_t length) override;

  // After each tick: redraws the live lines.
  void AfterTick();
  // Takes the live lines off the screen (before a final report).
  void ClearLive();
  // The station's summary: for each port, devices programmed and failures.
  void Summary();
  // How many progress and status events were coalesced because the output
  // was not read in time; says nothing when none were.
  void Coalesced(std::uint64_t count);
  // A line of the frame trace (-v), on standard error like every message; one
  // the queue has no room for is left out and counted.
  void TraceLine(const char* text, std::size_t length) override;

  double Since(SteadyTime time) const { return std::chrono::duration<double>(time - start_).count(); }
  double Now() const { return Since(std::chrono::steady_clock::now()); }

 private:
  // False when a coalescible piece was left out (the queue was full).
  bool Emit(std::FILE* stream, const char* text, std::size_t length, Piece piece = Piece::Kept);
  static const char* PortName(const Lane& lane);

  ReportOptions options_;
  SteadyTime start_;
  const ImageInfo& image_;
  std::vector<const Lane*> lanes_;
  JsonLine line_;
  std::size_t liveLines_ = 0;
  std::vector<char> liveText_;  // one redraw of every live line
};

}  // namespace tarnwick::cli
