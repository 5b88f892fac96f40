// What the runs show, as the user asked for it: JSON Lines; a live line per
// port on a terminal; or, when the output is not a terminal, each status text
// as it changes. Messages and errors go to standard error, results to
// standard output. Everything said during a tick is formatted in fixed
// buffers and handed to the output queues at once; the loop never waits for
// a reader (see output_queue.h).
#pragma once

#include <cstdio>
#include <vector>

#include "json_line.h"
#include "output_queue.h"
#include "run_log.h"
#include "station.h"

namespace tarnwick::cli {

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

class Reporter final : public RunObserver, public TraceSink {
 public:
  Reporter(const ReportOptions& options, SteadyTime start, const ImageInfo& image, RunLog* log);

  // The runs the live lines show, in order.
  void Watch(const std::vector<PortRun*>& runs);

  void Status(const PortRun& run, const char* text) override;
  void Detail(const PortRun& run, const char* detail) override;
  void Progress(const PortRun& run, std::uint32_t sent, std::uint32_t total) override;
  void Message(const PortRun& run, const char* text, MessageIcon icon) override;
  void Started(const PortRun& run, const RunStart& start) override;
  void Result(const PortRun& run, const RunResult& result) override;

  // A record could not be written to the log: the runs were halted, and the
  // records the log did not take went to standard error.
  bool logFailed() const { return logFailed_; }

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

 private:
  // False when a coalescible piece was left out (the queue was full).
  bool Emit(std::FILE* stream, const char* text, std::size_t length, Piece piece = Piece::Kept);
  void PortFields(const PortRun& run, const PortTarget* target, const char* event);
  const char* PortName(const PortRun& run) const;
  // After a record the log did not take: says why (the first time), halts
  // every run and puts the record on standard error.
  void NotLogged();

  ReportOptions options_;
  SteadyTime start_;
  const ImageInfo& image_;
  RunLog* log_;
  std::vector<PortRun*> runs_;
  JsonLine line_;
  std::size_t liveLines_ = 0;
  std::vector<char> liveText_;  // one redraw of every live line
  bool logFailed_ = false;
};

}  // namespace tarnwick::cli
