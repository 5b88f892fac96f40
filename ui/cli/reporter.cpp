#include "reporter.h"

#include <algorithm>
#include <cstring>

#include "console.h"
#include "event_json.h"
#include "run_text.h"

namespace tarnwick::cli {
namespace {

constexpr std::size_t kLiveLine = 512;

}  // namespace

Reporter::Reporter(const ReportOptions& options, SteadyTime start, const ImageInfo& image)
    : options_(options), start_(start), image_(image) {}

const char* Reporter::PortName(const Lane& lane) {
  const PortTarget* target = lane.current();
  return target != nullptr ? target->label.c_str() : "-";
}

void Reporter::Watch(const std::vector<std::unique_ptr<Lane>>& lanes) {
  lanes_.clear();
  for (const auto& lane : lanes) lanes_.push_back(lane.get());
  liveText_.assign(16 + lanes_.size() * kLiveLine, '\0');
}

bool Reporter::Emit(std::FILE* stream, const char* text, std::size_t length, Piece piece) {
  if (stream == options_.err && liveLines_ > 0) ClearLive();
  OutputQueue* queue = stream == options_.out   ? options_.outQueue
                       : stream == options_.err ? options_.errQueue
                                                : nullptr;
  if (queue != nullptr) return queue->Push(DescriptorOf(stream), text, length, piece);
  console::Write(stream, std::string_view(text, length));
  std::fflush(stream);
  return true;
}

void Reporter::Status(const Lane& run, const char* text) {
  if (options_.quiet) return;
  if (options_.json) {
    const char* finished = station::StatusEvent(line_, run.current(), Now(), text);
    Emit(options_.out, finished, line_.length(), Piece::Coalescible);
    return;
  }
  if (options_.live) return;  // the live line shows it
  char buffer[512];
  const int length = std::snprintf(buffer, sizeof buffer, "%7.1f s  %s  status \"%s\"\n",
                                   Since(std::chrono::steady_clock::now()), PortName(run), text);
  if (length > 0) {
    Emit(options_.out, buffer, std::min(static_cast<std::size_t>(length), sizeof buffer - 1), Piece::Coalescible);
  }
}

void Reporter::Detail(const Lane& run, const char* detail) {
  if (options_.quiet) return;
  char buffer[768];
  // A port's own error names the device already ("/dev/ttyUSB0: Input/output
  // error"); given by that path, the port is not named twice.
  const char* name = PortName(run);
  const std::size_t nameLength = std::strlen(name);
  const bool named = std::strncmp(detail, name, nameLength) == 0 && std::strncmp(detail + nameLength, ": ", 2) == 0;
  const int length = named ? std::snprintf(buffer, sizeof buffer, "%s\n", detail)
                           : std::snprintf(buffer, sizeof buffer, "%s: %s\n", name, detail);
  if (length > 0) Emit(options_.err, buffer, std::min(static_cast<std::size_t>(length), sizeof buffer - 1));
}

void Reporter::Progress(const Lane& run, std::uint32_t sent, std::uint32_t total) {
  if (options_.quiet || !options_.json) return;
  const char* finished = station::ProgressEvent(line_, run.current(), Now(), sent, total);
  Emit(options_.out, finished, line_.length(), Piece::Coalescible);
}

void Reporter::Message(const Lane& run, const char* text, MessageIcon icon) {
  char buffer[512];
  const int length =
      std::snprintf(buffer, sizeof buffer, "%s  %s \"%s\"\n", PortName(run), station::IconName(icon), text);
  if (length > 0) Emit(options_.err, buffer, std::min(static_cast<std::size_t>(length), sizeof buffer - 1));
}

void Reporter::NotLogged(const char* failure, bool first, const char* record, std::size_t length) {
  // In pieces, as long as the log's name and the record are: all from this
  // one thread, so nothing comes between them.
  if (first) {
    static const char kBefore[] = "tarnwick-cli: the run log ";
    static const char kAfter[] = "; no new run starts, the runs going on end now\n";
    Emit(options_.err, kBefore, sizeof kBefore - 1);
    Emit(options_.err, failure, std::strlen(failure));
    Emit(options_.err, kAfter, sizeof kAfter - 1);
  }
  static const char kPrefix[] = "tarnwick-cli: not in the run log: ";
  Emit(options_.err, kPrefix, sizeof kPrefix - 1);
  Emit(options_.err, record, length);
}

void Reporter::Result(const Lane& /*lane*/, const RunResult& result) {
  if (options_.json) {
    const char* finished = station::ResultEvent(line_, Now(), result, image_);
    Emit(options_.out, finished, line_.length());
    return;
  }
  char buffer[512];
  const std::size_t length = station::ResultSentence(result, buffer, sizeof buffer);
  if (options_.live) ClearLive();
  Emit(options_.out, buffer, length);
}

void Reporter::AfterTick() {
  if (!options_.live || options_.quiet || options_.json || liveText_.empty()) return;
  const auto now = std::chrono::steady_clock::now();
  char* const text = liveText_.data();
  const std::size_t size = liveText_.size();
  std::size_t used = 0;
  // Up to the first line drawn last time, then each line anew.
  if (liveLines_ > 0) used += static_cast<std::size_t>(std::snprintf(text, size, "\x1b[%zuA", liveLines_));
  for (const Lane* run : lanes_) {
    const std::uint32_t total = run->imageLength();
    const std::uint32_t sent = std::min(run->bytesSent(), total);
    constexpr int kBarWidth = 24;
    char bar[kBarWidth + 1];
    const int filled = total == 0 ? 0 : static_cast<int>(static_cast<std::uint64_t>(sent) * kBarWidth / total);
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    const double rate = run->BytesPerSecond(now);
    char left[16] = "--:--";
    if (rate > 0 && sent < total) {
      const auto seconds = static_cast<unsigned>((total - sent) / rate + 0.5);
      std::snprintf(left, sizeof left, "%u:%02u", seconds / 60, seconds % 60);
    } else if (total > 0 && sent == total) {
      std::snprintf(left, sizeof left, "0:00");
    }
    const unsigned percent = total == 0 ? 0u : static_cast<unsigned>(static_cast<std::uint64_t>(sent) * 100u / total);
    const std::size_t room = std::min(kLiveLine, size - used);
    const int length = std::snprintf(text + used, room, "\r\x1b[2K%-12s [%s] %5u/%u %3u%% %5.0f B/s %s left  %s\n",
                                     run->current() != nullptr ? run->current()->label.c_str() : "-", bar, sent, total,
                                     percent, rate, left, run->status());
    if (length > 0) used += std::min(static_cast<std::size_t>(length), room - 1);
  }
  // A redraw left out (the terminal is not read) leaves the last one on the screen.
  if (Emit(options_.out, text, used, Piece::Coalescible)) liveLines_ = lanes_.size();
}

void Reporter::ClearLive() {
  if (liveLines_ == 0) return;
  char buffer[32];
  const int length = std::snprintf(buffer, sizeof buffer, "\x1b[%zuA\r\x1b[J", liveLines_);
  liveLines_ = 0;
  if (length > 0) Emit(options_.out, buffer, static_cast<std::size_t>(length));
}

void Reporter::Summary() {
  ClearLive();
  for (const Lane* run : lanes_) {
    const PortTarget& target = run->targets().front();
    if (options_.json) {
      const char* finished = station::SummaryEvent(line_, target, Now(), run->programmed(), run->failed());
      Emit(options_.out, finished, line_.length());
    } else {
      const bool named = !target.path.empty() && target.path != target.label;
      char buffer[1024];
      const int length = std::snprintf(buffer, sizeof buffer, "%s%s%s%s: %u programmed, %u failed\n",
                                       target.label.c_str(), named ? " (" : "", named ? target.path.c_str() : "",
                                       named ? ")" : "", run->programmed(), run->failed());
      if (length > 0) Emit(options_.out, buffer, std::min(static_cast<std::size_t>(length), sizeof buffer - 1));
    }
  }
}

void Reporter::TraceLine(const char* text, std::size_t length) { Emit(options_.err, text, length, Piece::Coalescible); }

void Reporter::Coalesced(std::uint64_t count) {
  if (count == 0) return;
  if (options_.json) {
    const char* finished = station::CoalescedEvent(line_, Now(), count);
    Emit(options_.out, finished, line_.length());
  }
  char buffer[256];
  const int length = std::snprintf(buffer, sizeof buffer,
                                   "tarnwick-cli: %llu progress and status events coalesced: standard output was "
                                   "not read in time\n",
                                   static_cast<unsigned long long>(count));
  if (length > 0) Emit(options_.err, buffer, std::min(static_cast<std::size_t>(length), sizeof buffer - 1));
}

}  // namespace tarnwick::cli
