// One lane of a station: one engine and one serial port, programming one
// device at a time; or, for a single device, the scan over a list of ports.
// A run follows the same course on the wire as in the dialog, tick for tick,
// and how it ended comes from the engine's outcome and counters, never from
// the texts it shows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lane_port.h"
#include "run_events.h"
#include "run_machine.h"
#include "run_window.h"
#include "serial_devices.h"

namespace tarnwick::station {

struct LaneSettings {
  // RunProgramming ticks without progress that end a run as stalled.
  std::uint32_t stallTicks = kStallTicks;
  // After a run, wait for the next device on the same port (a station that
  // loops). Each port's name is then resolved again in `tree` before each
  // scan and when a device answers, so that a run goes to what the name
  // stands for at that moment; a name that stands for nothing waits for its
  // adapter.
  bool loop = false;
  DeviceTree tree;
  // Frames in hex, a line at a time, here.
  TraceSink* trace = nullptr;
};

// A port the last scan tried, and what came of it.
struct TriedPort {
  const PortTarget* target = nullptr;
  const OpenRecord* open = nullptr;  // nullptr: nothing stands behind the name
};

class Lane final : private RunEvents, private WriteGate {
 public:
  // The engine scans `targets` in order, by their paths (by their labels
  // where nothing stands behind them).
  Lane(std::vector<PortTarget> targets, const LaneSettings& settings, StationObserver& observer);
  ~Lane() override;
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  // Loads the image into the engine; false with the loader's message.
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
  // The port being worked on, or nullptr before the lane starts.
  const PortTarget* current() const;
  const std::vector<PortTarget>& targets() const { return targets_; }
  const char* status() const { return window_.status(); }
  std::uint32_t bytesSent() const { return window_.bytesSent(); }
  std::uint32_t imageLength() const { return window_.imageLength(); }
  // The image as loaded (descrambled), imageLength() bytes.
  const std::uint8_t* imageData() const { return engine_->state().imageData.data(); }
  // Bytes a second since the first block of this run; 0 before it.
  double BytesPerSecond(SteadyTime now) const;

  unsigned programmed() const { return programmed_; }
  unsigned failed() const { return failed_; }
  // How the last run ended (None before one has).
  RunOutcome lastOutcome() const { return lastOutcome_; }
  // Every port of the lane, with what its last open did.
  std::vector<TriedPort> TriedPorts() const;

 private:
  enum class Phase { Idle, Running, Done };

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
  void End(RunOutcome outcome, SteadyTime now);
  // A lane that loops: the next scan, once the names are resolved again.
  void NextScan(SteadyTime now);
  void ResolveAndScan(SteadyTime now);
  // The names the engine scans: the targets' as they stand now.
  void NameTargets();
  void BeginRun(SteadyTime now);

  std::vector<PortTarget> targets_;
  // What the engine opens and shows for each target, and pointers to them.
  std::vector<std::string> names_;
  std::vector<const char*> namePointers_;
  std::vector<const char*> labels_;
  LaneSettings settings_;
  StationObserver& observer_;
  RunWindow window_;
  std::unique_ptr<SerialPort> platformPort_;
  std::unique_ptr<LanePort> port_;
  std::unique_ptr<ImageFile> imageFile_;
  std::unique_ptr<ProgrammerEngine> engine_;
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
  RunOutcome lastOutcome_ = RunOutcome::None;
  std::uint32_t droppedTraced_ = 0;
  // The device that answered was refused: not this port's, or its run's start
  // was not recorded. Nothing more goes to it.
  enum class Refusal { None, NotNamed, NotRecorded } refused_ = Refusal::None;
  // A lane that loops: no scan goes on while a scan waits for its names to
  // be resolved again (at most once every kResolvePeriod), or while none of
  // its names stands for a device (waiting for the adapter).
  bool scanPending_ = false;
  bool awaitingAdapter_ = false;
  SteadyTime nextResolve_{};
};

}  // namespace tarnwick::station
