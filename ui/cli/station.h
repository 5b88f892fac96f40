// Runs on one or more ports, all stepped by one 100 ms loop. Each port has its
// own engine, serial port and window, so a run follows the same course on the
// wire as in the dialog, tick for tick. How a run ended comes from the
// engine's outcome and counters, never from the texts it shows.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "routed_port.h"
#include "run_machine.h"
#include "run_window.h"
#include "serial_devices.h"

namespace tarnwick::cli {

enum class Outcome { Success, Failure, NoDevice, Stalled, PortLost, Interrupted };
const char* OutcomeName(Outcome outcome);

// The image as programmed, and the file it came from: a file longer than the
// image format holds is programmed from its first kMaxImageLength bytes only.
struct ImageInfo {
  std::string path;
  std::uint32_t bytes = 0;            // the bytes programmed
  std::array<char, 65> sha256{};      // their SHA-256
  std::uint64_t fileBytes = 0;        // the whole file
  std::array<char, 65> fileSha256{};  // its SHA-256
};

using SteadyTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// Names one run in the log and the results: 16 lower-case hex digits, drawn
// at random, so that stations sharing a log never give two runs one name.
using RunId = std::array<char, 17>;

// A run whose device has just answered.
struct RunStart {
  const PortTarget* target = nullptr;
  RunId id{};
  WallTime start;
};

struct RunResult {
  const PortTarget* target = nullptr;  // nullptr: several ports were tried and none answered
  Outcome outcome = Outcome::Success;
  // The status the device reported at the end; none when it reported nothing
  // (no device, stalled, port lost, interrupted).
  std::optional<std::uint8_t> deviceStatus;
  RunId id{};
  std::uint32_t sent = 0;
  std::uint32_t total = 0;
  double seconds = 0;
  WallTime start;
  WallTime end;
};

struct RunSettings {
  // RunProgramming ticks without a request that end a run as stalled.
  std::uint32_t stallTicks = kStallTicks;
  // After a run, wait for the next device on the same port (station --loop).
  // Each port's name is then resolved again in `tree` before each scan and
  // when a device answers, so that a run goes to what the name stands for
  // at that moment; a name that stands for nothing waits for its adapter.
  bool loop = false;
  DeviceTree tree;
  // Frames in hex, a line at a time, here.
  TraceSink* trace = nullptr;
};

class PortRun;

// Where what the runs show goes (the terminal, JSON Lines, a log).
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void Status(const PortRun& run, const char* text) = 0;
  virtual void Detail(const PortRun& run, const char* detail) = 0;
  virtual void Progress(const PortRun& run, std::uint32_t sent, std::uint32_t total) = 0;
  virtual void Message(const PortRun& run, const char* text, MessageIcon icon) = 0;
  // The run's device answered for the first time.
  virtual void Started(const PortRun& run, const RunStart& start) = 0;
  virtual void Result(const PortRun& run, const RunResult& result) = 0;
};

// One device at a time on one port; or, for a single device, the scan over a
// list of ports. The engine walks at most four ports (COM1 to COM4) in a scan,
// so a longer list is scanned four at a time, by one engine for each four.
class PortRun final : private RunEvents, private WriteGate {
 public:
  PortRun(std::vector<PortTarget> targets, const RunSettings& settings, RunObserver& observer);
  ~PortRun() override;
  PortRun(const PortRun&) = delete;
  PortRun& operator=(const PortRun&) = delete;

  // Loads the image into every engine of the run; false with the loader's
  // message when it cannot be loaded.
  bool Load(const std::string& path, std::string& message);

  // Presses Program.
  void Start(SteadyTime now);
  // One tick of the loop.
  void Tick(SteadyTime now);
  // Ends the run at once (Ctrl-C): its port is closed, its result reported.
  void Interrupt(SteadyTime now);
  // Lets no new run start: a run going on is interrupted at its next tick (at
  // once when called as its device first answers), a loop waits for no next
  // device. Safe to call from the observer's calls.
  void Halt() { halted_ = true; }

  bool active() const { return phase_ == Phase::Running; }
  // The port being worked on, or nullptr before the run starts.
  const PortTarget* current() const;
  const std::vector<PortTarget>& targets() const { return targets_; }
  const char* status() const { return window_.status(); }
  std::uint32_t bytesSent() const { return window_.bytesSent(); }
  std::uint32_t imageLength() const { return window_.imageLength(); }
  // The image as loaded (descrambled), imageLength() bytes.
  const std::uint8_t* imageData() const { return scans_.front().engine->state().imageData.data(); }
  // Bytes a second since the first block of this run; 0 before it.
  double BytesPerSecond(SteadyTime now) const;
  // A device answered in the run going on.
  bool deviceFound() const { return deviceFound_; }

  unsigned programmed() const { return programmed_; }
  unsigned failed() const { return failed_; }
  // How the last run ended (valid once one has).
  Outcome lastOutcome() const { return lastOutcome_; }
  bool anyEnded() const { return programmed_ + failed_ > 0; }

  // One line for each port the scan tried: what happened there and what to check.
  void DescribeTriedPorts(std::FILE* out, double silentSeconds) const;

 private:
  enum class Phase { Idle, Running, Done };
  struct Scan {
    std::unique_ptr<SerialPort> backend;
    std::unique_ptr<RoutedPort> port;
    std::unique_ptr<ImageFile> imageFile;
    std::unique_ptr<ProgrammerEngine> engine;
    std::size_t first = 0;  // index in targets_ of its COM1
    std::size_t count = 0;
  };

  void OnStatus(const char* text) override;
  void OnDetail(const char* detail) override;
  void OnProgress(std::uint32_t sent, std::uint32_t total) override;
  void OnMessage(const char* text, MessageIcon icon) override;

  void Check(SteadyTime now);
  // The device has answered: the run starts (and is recorded) unless the
  // device is not this port's or the start cannot be recorded. False then;
  // Check ends that run once the engine's tick is over.
  bool DeviceFound(SteadyTime now);
  bool MayWrite() override;
  void TraceDroppedResults();
  void End(Outcome outcome, SteadyTime now);
  // A station that loops: the next scan, once the names are resolved again.
  void NextScan(SteadyTime now);
  void ResolveAndScan(SteadyTime now);
  // The targets as their names stand now; the ports routed to them.
  void ResolveTargets();
  // The device that answered is still the one the port's name stands for.
  bool StillTheNamedDevice() const;
  void BeginRun(SteadyTime now);
  Scan& scan() { return scans_[scanIndex_]; }
  const Scan& scan() const { return scans_[scanIndex_]; }

  std::vector<PortTarget> targets_;
  RunSettings settings_;
  RunObserver& observer_;
  RunWindow window_;
  std::vector<Scan> scans_;
  std::size_t scanIndex_ = 0;
  Phase phase_ = Phase::Idle;
  bool deviceFound_ = false;
  bool halted_ = false;
  RunId runId_{};
  SteadyTime runStart_{};
  WallTime runStartWall_{};
  SteadyTime firstBlock_{};
  SteadyTime lastBlock_{};
  bool blockServed_ = false;
  SteadyTime lastTick_{};
  unsigned programmed_ = 0;
  unsigned failed_ = 0;
  std::string* loadMessage_ = nullptr;
  Outcome lastOutcome_ = Outcome::Success;
  std::uint32_t droppedTraced_ = 0;
  // The device that answered was refused: not this port's, or its run's start
  // was not recorded. Nothing more goes to it.
  enum class Refusal { None, NotNamed, NotRecorded } refused_ = Refusal::None;
  // A station that loops: no scan goes on while a scan waits for its names
  // to be resolved again (at most once every kResolvePeriod), or while none
  // of its names stands for a device (waiting for the adapter).
  bool scanPending_ = false;
  bool awaitingAdapter_ = false;
  SteadyTime nextResolve_{};
};

// Ticks `runs` every `period` (the dialog's 100 ms; tests may go faster)
// until none is active or `stop` is set, which ends every run still going at
// the next tick. `afterTick` is called after each tick (the live display).
template <typename AfterTick>
void RunLoop(const std::vector<PortRun*>& runs, const std::atomic<bool>& stop, std::chrono::milliseconds period,
             AfterTick&& afterTick);

}  // namespace tarnwick::cli

#include "station_loop.inl"
