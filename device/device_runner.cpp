#include "device_runner.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "frame_codec.h"
#include "line_faults.h"
#include "paced_queue.h"
#include "simulated_device.h"

namespace tarnwick::device {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kMaxPollWait{50};
constexpr milliseconds kLineFailureBackOff{200};
constexpr milliseconds kHostReadWait{2000};
constexpr milliseconds kQueueSettle{100};
constexpr milliseconds kExclusiveMarkCheck{200};
// A request and a full block frame: what one try puts on the line.
constexpr long long kBytesPerTry = 6 + kBlockSize + kFrameOverhead;

class Runner {
 public:
  Runner(const DeviceOptions& options, const std::optional<std::vector<std::uint8_t>>& expected, DeviceLine& line,
         std::ostream& out, std::ostream& log)
      : options_(options),
        expected_(expected),
        line_(line),
        out_(out),
        start_(std::chrono::steady_clock::now()),
        device_(Settings(options, line)),
        faults_(options.faults, options.seed),
        // Pacing models the wire; a real port has its own.
        received_(line.isPseudoTerminal() ? ByteTime(options.baud) : LineTime{0}),
        sending_(line.isPseudoTerminal() ? ByteTime(options.baud) : LineTime{0}) {
    if (options.verbose) device_.SetLogger([&log](const std::string& text) { log << text << std::endl; });
  }

  int Serve(const std::atomic<bool>& stop) {
    while (!stop.load() && !AllRunsServed() && !hungUp_) Step();
    if (!hungUp_) WaitForHostToRead();
    return ExitStatus();
  }

 private:
  static DeviceSettings Settings(const DeviceOptions& options, const DeviceLine& line) {
    DeviceSettings settings;
    const unsigned lineBaud = line.isPseudoTerminal() ? options.baud : (options.baud == 0 ? 4800 : options.baud);
    settings.blockTimeout = BlockTimeout(lineBaud);
    settings.answerAfter = options.answerAfter;
    settings.silent = options.silent;
    settings.forcedStatus = options.status;
    settings.repeatRate = options.repeat;
    // Its own stream of chances, so that line faults do not shift its choices.
    settings.seed = options.seed ^ 0x5eedu;
    return settings;
  }

  LineTime Now() const { return std::chrono::duration_cast<LineTime>(std::chrono::steady_clock::now() - start_); }

  bool AllRunsServed() const { return options_.runs != 0 && runsFinished_ >= options_.runs && sending_.Empty(); }

  void Step() {
    const bool backOff = WaitForLine();
    LineTime now = Now();
    ReadLine(now);
    FeedDevice(now);
    device_.Advance(now);
    if (HangUpDue()) {
      // Whatever the device has queued, and the request for the next block, never goes out.
      ReportRuns();
      line_.HangUp();
      hungUp_ = true;
      return;
    }
    QueueFrames(now);
    WriteLine(now);
    ReportRuns();
    if (now - lastExclusiveCheck_ >= kExclusiveMarkCheck) {
      line_.KeepOpenableByHost();
      lastExclusiveCheck_ = now;
    }
    if (backOff) std::this_thread::sleep_for(kLineFailureBackOff);
  }

  // Sleeps until the line has bytes, can take due bytes, or something falls
  // due. True when the line reports a failure, so that the caller backs off
  // instead of spinning.
  bool WaitForLine() {
    const LineTime now = Now();
    LineTime wake = now + kMaxPollWait;
    for (const auto& due : {device_.NextDeadline(), received_.NextDue()}) {
      if (due) wake = std::min(wake, *due);
    }
    const std::optional<LineTime> sendDue = sending_.NextDue();
    const bool waitingToSend = sendDue && *sendDue <= now;
    if (sendDue && !waitingToSend) wake = std::min(wake, *sendDue);

    // Rounded up to a whole millisecond: waking early would only spin.
    const auto wait = std::chrono::duration_cast<milliseconds>(wake - now + LineTime{999});
    return line_.Wait(waitingToSend, wait);
  }

  bool HangUpDue() const {
    return options_.hangUpAfter && device_.RunInProgress() && device_.blocksTaken() >= *options_.hangUpAfter;
  }

  void ReadLine(LineTime now) {
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
      const std::ptrdiff_t got = line_.Read(buffer.data(), buffer.size());
      if (got <= 0) return;
      const auto count = static_cast<std::size_t>(got);
      if (faults_.AnyOnReceive()) {
        const std::vector<std::uint8_t> arrived = faults_.Receive(buffer.data(), count);
        received_.Push(arrived.data(), arrived.size(), now);
      } else {
        received_.Push(buffer.data(), count, now);
      }
    }
  }

  void FeedDevice(LineTime now) {
    const std::vector<std::uint8_t> due = received_.PeekDue(now);
    received_.Drop(due.size());
    device_.Receive(due.data(), due.size(), now);
  }

  void QueueFrames(LineTime now) {
    if (device_.runStarts() != runStartsSeen_) {
      // The host has started over: what it has not read yet is of no use to it.
      runStartsSeen_ = device_.runStarts();
      sending_.Clear();
      line_.DiscardUnread();
    }
    // Faults go on whole frames as they are queued, never on one partly written.
    for (const SimulatedDevice::Frame& frame : device_.TakeFrames()) {
      const std::vector<std::uint8_t> noise = faults_.NoiseBeforeFrame();
      sending_.Push(noise.data(), noise.size(), now);
      const std::vector<std::uint8_t> sent = faults_.Send(frame.data(), frame.size());
      sending_.Push(sent.data(), sent.size(), now);
    }
  }

  void WriteLine(LineTime now) {
    const std::vector<std::uint8_t> due = sending_.PeekDue(now);
    if (due.empty()) return;
    const std::ptrdiff_t written = line_.Write(due.data(), due.size());
    if (written <= 0) return;
    sending_.Drop(static_cast<std::size_t>(written));
    lastWrite_ = now;
  }

  void ReportRuns() {
    for (const RunReport& run : device_.TakeFinishedRuns()) {
      ++runsFinished_;
      const std::string name = "run " + std::to_string(runsFinished_);
      std::string line = name + ": ";
      line += run.whole ? std::to_string(run.image.size()) + " bytes received whole" : run.failure;
      line += ", result " + std::to_string(run.status) + " (" + std::to_string(run.requests) + " requests, " +
              std::to_string(run.badFrames) + " bad frames, " + std::to_string(run.timeouts) + " time-outs)";
      out_ << line << std::endl;

      bool good = run.whole;
      if (run.whole && expected_) good = CompareWithExpected(name, run.image) && good;
      if (run.whole && !options_.out.empty()) good = WriteImage(name, run.image) && good;
      if (!good) ++runsFailed_;
    }
  }

  bool CompareWithExpected(const std::string& name, const std::vector<std::uint8_t>& image) {
    const std::vector<std::uint8_t>& expected = *expected_;
    if (image == expected) {
      out_ << name << ": image equals " << options_.expect << std::endl;
      return true;
    }
    const auto [at, ignored] = std::mismatch(image.begin(), image.end(), expected.begin(), expected.end());
    out_ << name << ": image differs from " << options_.expect << ": " << image.size() << " bytes received, "
         << expected.size() << " expected, first difference at byte " << (at - image.begin()) << std::endl;
    return false;
  }

  bool WriteImage(const std::string& name, const std::vector<std::uint8_t>& image) {
    const std::string path = OutputPathForRun(options_.out, runsFinished_);
    std::ofstream file(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    file.close();
    if (!file) {
      out_ << name << ": cannot write " << path << std::endl;
      return false;
    }
    out_ << name << ": image written to " << path << std::endl;
    return true;
  }

  // A pseudo-terminal drops what the host has not read once the device's end
  // closes: let the last frames go out and be read first, for a bounded time.
  // Bytes just written take a moment to show in the host's queue, so an empty
  // queue counts only once bytes were seen in it or a while after the last write.
  void WaitForHostToRead() {
    const LineTime limit = Now() + kHostReadWait;
    bool seenWaiting = false;
    while (Now() < limit) {
      WriteLine(Now());
      if (sending_.Empty()) {
        if (line_.UnreadByHost() > 0) {
          seenWaiting = true;
        } else if (seenWaiting || Now() - lastWrite_ >= kQueueSettle) {
          return;
        }
      }
      std::this_thread::sleep_for(milliseconds(5));
    }
  }

  int ExitStatus() {
    bool ok = runsFailed_ == 0;
    if (device_.RunInProgress()) {
      out_ << "run " << runsFinished_ + 1 << ": cut short";
      if (hungUp_) out_ << ", the line hung up after " << device_.blocksTaken() << " good blocks";
      out_ << std::endl;
      ok = false;
    }
    if (options_.runs != 0 && runsFinished_ < options_.runs) ok = false;
    if (expected_ && runsFinished_ == 0) ok = false;
    return ok ? kExitOk : kExitFailed;
  }

  const DeviceOptions& options_;
  const std::optional<std::vector<std::uint8_t>>& expected_;
  DeviceLine& line_;
  std::ostream& out_;
  const std::chrono::steady_clock::time_point start_;
  SimulatedDevice device_;
  LineFaults faults_;
  PacedQueue received_;
  PacedQueue sending_;
  std::uint64_t runStartsSeen_ = 0;
  unsigned runsFinished_ = 0;
  unsigned runsFailed_ = 0;
  LineTime lastExclusiveCheck_{};
  LineTime lastWrite_{};
  bool hungUp_ = false;
};

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& utf8) {
  // On Windows a narrow path would be read in the ANSI code page.
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

LineTime BlockTimeout(unsigned baud) {
  if (baud == 0) return std::chrono::seconds(1);
  return milliseconds(1500) + kBytesPerTry * ByteTime(baud);
}

int ServeDevice(const DeviceOptions& options, const std::optional<std::vector<std::uint8_t>>& expected,
                DeviceLine& line, const std::atomic<bool>& stop, std::ostream& out, std::ostream& log) {
  Runner runner(options, expected, line, out, log);
  return runner.Serve(stop);
}

}  // namespace tarnwick::device
