// A programming station: one image, loaded and checked once, and its lanes,
// each an engine and a port, all stepped by the station's owner. The command
// line's loop ticks it every 100 ms; a GUI or a web front end may use a timer
// or a thread of its own. Every run is recorded in the run log, if there is
// one, before its first block goes out and when it ends; whatever happens is
// told to the observer as data.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lane.h"
#include "run_events.h"
#include "run_log.h"

namespace tarnwick::station {

class Station final : private StationObserver {
 public:
  Station(const LaneSettings& settings, StationObserver& observer);
  ~Station() override;
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // A lane that programs on `targets` (scanning them in order for each device).
  Lane& AddLane(std::vector<PortTarget> targets);

  // Loads the image into every lane and identifies it; false with `error`
  // when it cannot be loaded, is empty, or changed while it was read.
  // `warning` when only a part of it is programmed.
  bool Load(const std::string& path, std::string& error, std::string& warning);
  // Records every run in the log at `path` from now on. False with `error`
  // when it cannot be opened, or its torn last record cannot be ended.
  bool OpenLog(const std::string& path, std::string& error);

  void Start(SteadyTime now);
  void Tick(SteadyTime now);
  // Ends every run at once; each is reported as interrupted.
  void Interrupt(SteadyTime now);
  // No new run starts; the runs going on end at their next tick.
  void Halt();
  // Some lane has a run going on or waits for its next device.
  bool active() const;

  const std::vector<std::unique_ptr<Lane>>& lanes() const { return lanes_; }
  const ImageInfo& image() const { return image_; }
  bool logFailed() const { return log_.failed(); }

 private:
  void Status(const Lane& lane, const char* text) override { observer_.Status(lane, text); }
  void Detail(const Lane& lane, const char* detail) override { observer_.Detail(lane, detail); }
  void Progress(const Lane& lane, std::uint32_t sent, std::uint32_t total) override {
    observer_.Progress(lane, sent, total);
  }
  void Message(const Lane& lane, const char* text, MessageIcon icon) override { observer_.Message(lane, text, icon); }
  void Started(const Lane& lane, const RunStart& start) override;
  void Result(const Lane& lane, const RunResult& result) override;
  // After a record the log did not take: every lane halts.
  void LogRefused();

  LaneSettings settings_;
  StationObserver& observer_;
  std::vector<std::unique_ptr<Lane>> lanes_;
  ImageInfo image_;
  RunLog log_;
  bool logging_ = false;
  bool halted_ = false;  // by a record the log did not take
};

// Ticks `station` every `period` (the dialog's 100 ms; tests may go faster)
// until no lane is active or `stop` is set, which ends every run still going
// at the next tick. `afterTick` is called after each tick (a live display).
// Sleeps until each tick is due on the steady clock, so that a slow tick does
// not shift the ones after it.
template <typename AfterTick>
void RunLoop(Station& station, const std::atomic<bool>& stop, std::chrono::milliseconds period, AfterTick&& afterTick) {
  auto next = std::chrono::steady_clock::now();
  station.Start(next);
  while (station.active()) {
    next += period;
    const auto now = std::chrono::steady_clock::now();
    // Far behind (the machine was suspended): start counting again from now.
    if (now > next + 10 * period) next = now;
    std::this_thread::sleep_until(next);
    if (stop.load()) {
      station.Interrupt(std::chrono::steady_clock::now());
      afterTick();
      return;
    }
    station.Tick(std::chrono::steady_clock::now());
    afterTick();
  }
}

}  // namespace tarnwick::station
