#include "lane.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <utility>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace tarnwick::station {
namespace {

// A station that loops resolves its names again at most this often, so that
// a port whose open fails at once does not read the file system every tick.
constexpr std::chrono::milliseconds kResolvePeriod{1000};

constexpr const char* kTextWaitingForAdapter = "Waiting for adapter";

// One generator for the process, seeded from the system's random source and,
// should that be weak, the time and process id as well.
std::mt19937_64& RunIdSource() {
  static std::mt19937_64 source = [] {
    std::random_device device;
    const auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
#ifdef _WIN32
    const auto pid = static_cast<std::uint64_t>(_getpid());
#else
    const auto pid = static_cast<std::uint64_t>(::getpid());
#endif
    std::seed_seq seed{device(), device(), device(), device(), static_cast<unsigned>(now),
                       static_cast<unsigned>(now >> 32), static_cast<unsigned>(pid)};
    return std::mt19937_64(seed);
  }();
  return source;
}

RunId NewRunId() {
  RunId id{};
  std::snprintf(id.data(), id.size(), "%016llx", static_cast<unsigned long long>(RunIdSource()()));
  return id;
}

}  // namespace

const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Success:
      return "success";
    case RunOutcome::Failure:
      return "failure";
    case RunOutcome::NoDevice:
      return "no-device";
    case RunOutcome::Stalled:
      return "stalled";
    case RunOutcome::PortLost:
      return "port-lost";
    case RunOutcome::Interrupted:
      return "interrupted";
    case RunOutcome::None:
      break;
  }
  return "unknown";
}

Lane::Lane(std::vector<PortTarget> targets, const LaneSettings& settings, StationObserver& observer)
    : targets_(std::move(targets)), settings_(settings), observer_(observer), window_(*this) {
  RunIdSource();  // seeded here, not in a tick
  platformPort_ = MakeSerialPort();
  port_ = std::make_unique<LanePort>(*platformPort_, static_cast<WriteGate&>(*this));
  port_->Trace(settings_.trace);
  imageFile_ = MakeImageFile();
  engine_ = std::make_unique<ProgrammerEngine>(*port_, window_, *imageFile_);
  NameTargets();
  engine_->OnInitDialog();
}

Lane::~Lane() { engine_->OnExit(); }

bool Lane::Load(const std::string& path, std::string& message) {
  // A load that fails shows the loader's message in a box: keep it for the caller.
  loadMessage_ = &message;
  const bool loaded = engine_->LoadFile(path);
  loadMessage_ = nullptr;
  return loaded;
}

void Lane::NameTargets() {
  names_.clear();
  labels_.clear();
  for (const PortTarget& target : targets_) {
    names_.push_back(target.path.empty() ? target.label : target.path);
    labels_.push_back(target.label.c_str());
  }
  namePointers_.clear();
  for (const std::string& name : names_) namePointers_.push_back(name.c_str());
  engine_->SetPortNames(namePointers_);
  port_->SetNames(namePointers_, labels_);
}

std::vector<TriedPort> Lane::TriedPorts() const {
  std::vector<TriedPort> tried;
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    tried.push_back(TriedPort{&targets_[i], targets_[i].missing.empty() ? &port_->record(i) : nullptr});
  }
  return tried;
}

const PortTarget* Lane::current() const {
  if (phase_ == Phase::Idle || targets_.empty()) return nullptr;
  return &targets_[std::min<std::size_t>(engine_->portIndex(), targets_.size() - 1)];
}

double Lane::BytesPerSecond(SteadyTime now) const {
  if (!blockServed_) return 0;
  // Once the image has gone out, the rate is the transfer's, not one that falls as time passes.
  const bool sentWhole = window_.bytesSent() >= window_.imageLength();
  const double seconds = std::chrono::duration<double>((sentWhole ? lastBlock_ : now) - firstBlock_).count();
  return seconds > 0.05 ? window_.bytesSent() / seconds : 0;
}

void Lane::BeginRun(SteadyTime now) {
  runId_ = NewRunId();
  runStart_ = now;
  runStartWall_ = std::chrono::system_clock::now();
  blockServed_ = false;
  window_.ResetProgress();
}

void Lane::Start(SteadyTime now) {
  if (targets_.empty()) return;
  phase_ = Phase::Running;
  deviceFound_ = false;
  lastTick_ = now;
  BeginRun(now);
  if (settings_.loop) {
    ResolveAndScan(now);
    return;
  }
  engine_->OnProgram();
}

void Lane::Tick(SteadyTime now) {
  if (phase_ != Phase::Running) return;
  if (halted_) {
    Interrupt(now);
    return;
  }
  lastTick_ = now;
  if (scanPending_ || awaitingAdapter_) {
    if (now >= nextResolve_) ResolveAndScan(now);
    return;
  }
  if (window_.timerRunning()) engine_->OnTimer();
  TraceDroppedResults();
  Check(now);
}

void Lane::Check(SteadyTime now) {
  ProgrammerEngine& engine = *engine_;
  const ProgrammerState& state = engine.state();
  if (!deviceFound_ && refused_ == Refusal::None &&
      (state.runState == RunConnected || state.runState == RunProgramming)) {
    DeviceFound(now);
  }
  if (refused_ == Refusal::NotNamed) {
    refused_ = Refusal::None;
    char left[512];
    std::snprintf(left, sizeof left, "the device that answered on %s was left alone: the name no longer stands for it",
                  current()->path.c_str());
    engine.OnExit();
    window_.SetStatusDetail(left);
    ResolveAndScan(now);
    return;
  }
  if (refused_ == Refusal::NotRecorded) {
    // A run whose start could not be recorded goes no further; the block the
    // engine handed over was held back and goes with the port.
    refused_ = Refusal::None;
    window_.ResetProgress();
    Interrupt(now);
    return;
  }
  if (window_.destroyed()) {
    End(RunOutcome::NoDevice, now);
    return;
  }
  if (engine.lastOutcome() != RunOutcome::None) {
    End(engine.lastOutcome(), now);
    return;
  }
  if (state.runState == RunProgramming && engine.ticksWithoutProgress() >= settings_.stallTicks) {
    End(RunOutcome::Stalled, now);
  }
}

bool Lane::DeviceFound(SteadyTime now) {
  // The scan opened what the name stood for when it began; a device that
  // answers there after the name has gone elsewhere is not this port's.
  if (settings_.loop && (current() == nullptr || !StillNamed(*current()))) {
    refused_ = Refusal::NotNamed;
    return false;
  }
  deviceFound_ = true;
  // A station that waits for the next device counts a run from its arrival.
  if (settings_.loop) BeginRun(now);
  observer_.Started(*this, RunStart{current(), runId_, runStartWall_});
  if (halted_) {
    refused_ = Refusal::NotRecorded;
    return false;
  }
  return true;
}

// Called from inside the engine's tick, before its first block for the
// device that answered goes out.
bool Lane::MayWrite() {
  if (refused_ != Refusal::None) return false;
  if (deviceFound_ || phase_ != Phase::Running) return true;
  // Not an answer to a device: the rest of a handshake the port took in part.
  if (engine_->state().connected != 1) return true;
  return DeviceFound(lastTick_);
}

void Lane::End(RunOutcome outcome, SteadyTime now) {
  ProgrammerEngine& engine = *engine_;
  engine.OnExit();
  const bool waiting = settings_.loop && !deviceFound_;
  if (waiting && outcome != RunOutcome::Interrupted) {
    // No device yet on a port that waits for one: look again, for ever.
    NextScan(now);
    return;
  }
  if (!waiting) {
    RunResult result;
    const bool severalTried = outcome == RunOutcome::NoDevice && targets_.size() > 1;
    result.target = severalTried ? nullptr : current();
    result.outcome = outcome;
    // Only a device that sent its result reported a status.
    if (outcome == RunOutcome::Success || outcome == RunOutcome::Failure) result.deviceStatus = engine.lastDeviceStatus();
    result.id = runId_;
    result.sent = window_.bytesSent();
    result.total = window_.imageLength();
    result.seconds = std::chrono::duration<double>(now - runStart_).count();
    result.start = runStartWall_;
    result.end = std::chrono::system_clock::now();
    lastOutcome_ = outcome;
    if (outcome == RunOutcome::Success) {
      ++programmed_;
    } else {
      ++failed_;
    }
    observer_.Result(*this, result);
  }
  if (settings_.loop && outcome != RunOutcome::Interrupted && !halted_) {
    // The next device on this port: a new scan of it, which never gives up.
    deviceFound_ = false;
    BeginRun(now);
    NextScan(now);
    return;
  }
  phase_ = Phase::Done;
}

void Lane::NextScan(SteadyTime now) {
  if (now < nextResolve_) {
    scanPending_ = true;  // the tick starts it when the names may be read again
    return;
  }
  ResolveAndScan(now);
}

void Lane::ResolveAndScan(SteadyTime now) {
  scanPending_ = false;
  nextResolve_ = now + kResolvePeriod;
  // The names stand for what they stand for now; the engine scans that.
  for (PortTarget& target : targets_) ResolveAgain(settings_.tree, target);
  NameTargets();
  const auto named = std::find_if(targets_.begin(), targets_.end(),
                                  [](const PortTarget& target) { return !target.path.empty(); });
  if (named == targets_.end()) {
    // Nothing is opened for a name that stands for nothing; the tick looks again.
    awaitingAdapter_ = true;
    window_.SetStatusText(kTextWaitingForAdapter);
    if (!targets_.empty()) window_.SetStatusDetail(targets_.front().missing.c_str());
    return;
  }
  awaitingAdapter_ = false;
  window_.Revive();
  engine_->OnProgram();
}

void Lane::Interrupt(SteadyTime now) {
  if (phase_ != Phase::Running) return;
  End(RunOutcome::Interrupted, now);
  engine_->OnExit();
  phase_ = Phase::Done;
}

// The trace shows the bytes as they came; say there which result was not trusted.
void Lane::TraceDroppedResults() {
  // The engine counts from 0 again in each run.
  const std::uint32_t dropped = engine_->droppedResults();
  if (settings_.trace != nullptr && dropped > droppedTraced_) {
    const PortTarget* target = current();
    char line[320];
    const int length =
        std::snprintf(line, sizeof line, "%s !! result frame dropped: its checksum is wrong (%u in this run)\n",
                      target != nullptr ? target->label.c_str() : "-", dropped);
    if (length > 0) settings_.trace->TraceLine(line, std::min(static_cast<std::size_t>(length), sizeof line - 1));
  }
  droppedTraced_ = dropped;
}

void Lane::OnStatus(const char* text) { observer_.Status(*this, text); }
void Lane::OnDetail(const char* detail) {
  // The dialog's stall notice is advice for its Program button; here a quiet
  // device is told of by --stall-timeout's own result.
  if (phase_ == Phase::Running && engine_->stallNoticeShown()) return;
  observer_.Detail(*this, detail);
}
void Lane::OnMessage(const char* text, MessageIcon icon) {
  if (loadMessage_ != nullptr) {
    *loadMessage_ = text;
    return;
  }
  observer_.Message(*this, text, icon);
}

void Lane::OnProgress(std::uint32_t sent, std::uint32_t total) {
  if (!blockServed_) {
    blockServed_ = true;
    firstBlock_ = lastTick_;
  }
  lastBlock_ = lastTick_;
  observer_.Progress(*this, sent, total);
}

}  // namespace tarnwick::station
