#include "station.h"

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

namespace tarnwick::cli {
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

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Success:
      return "success";
    case Outcome::Failure:
      return "failure";
    case Outcome::NoDevice:
      return "no-device";
    case Outcome::Stalled:
      return "stalled";
    case Outcome::PortLost:
      return "port-lost";
    case Outcome::Interrupted:
      return "interrupted";
  }
  return "unknown";
}

PortRun::PortRun(std::vector<PortTarget> targets, const RunSettings& settings, RunObserver& observer)
    : targets_(std::move(targets)), settings_(settings), observer_(observer), window_(*this) {
  RunIdSource();  // seeded here, not in a tick
  for (std::size_t first = 0; first < targets_.size(); first += kEngineSlots) {
    Scan scan;
    scan.first = first;
    scan.count = std::min(kEngineSlots, targets_.size() - first);
    std::array<std::string, kEngineSlots> devices;
    std::array<const char*, kEngineSlots> labels{};
    for (std::size_t i = 0; i < scan.count; ++i) {
      devices[i] = targets_[first + i].path;
      labels[i] = targets_[first + i].label.c_str();
    }
    std::array<std::string, kEngineSlots> openAs;
    scan.backend = MakeSerialBackend(devices, openAs);
    scan.port = std::make_unique<RoutedPort>(*scan.backend, openAs);
    scan.port->SetGate(this);
    if (settings_.trace != nullptr) scan.port->Trace(settings_.trace, labels);
    scan.imageFile = MakeImageFile();
    scan.engine = std::make_unique<ProgrammerEngine>(*scan.port, window_, *scan.imageFile);
    scan.engine->OnInitDialog();
    scans_.push_back(std::move(scan));
  }
}

PortRun::~PortRun() {
  for (Scan& each : scans_) each.engine->OnExit();
}

bool PortRun::Load(const std::string& path, std::string& message) {
  // A load that fails shows the loader's message in a box: keep it for the caller.
  loadMessage_ = &message;
  bool loaded = true;
  for (Scan& each : scans_) loaded = loaded && each.engine->LoadFile(path);
  loadMessage_ = nullptr;
  return loaded;
}

const PortTarget* PortRun::current() const {
  if (phase_ == Phase::Idle || targets_.empty()) return nullptr;
  const std::size_t index = scan().first + std::min<std::size_t>(scan().engine->portIndex(), scan().count - 1);
  return &targets_[index];
}

double PortRun::BytesPerSecond(SteadyTime now) const {
  if (!blockServed_) return 0;
  // Once the image has gone out, the rate is the transfer's, not one that falls as time passes.
  const bool sentWhole = window_.bytesSent() >= window_.imageLength();
  const double seconds = std::chrono::duration<double>((sentWhole ? lastBlock_ : now) - firstBlock_).count();
  return seconds > 0.05 ? window_.bytesSent() / seconds : 0;
}

void PortRun::BeginRun(SteadyTime now) {
  runId_ = NewRunId();
  runStart_ = now;
  runStartWall_ = std::chrono::system_clock::now();
  blockServed_ = false;
  window_.ResetProgress();
}

void PortRun::Start(SteadyTime now) {
  if (scans_.empty()) return;
  phase_ = Phase::Running;
  scanIndex_ = 0;
  deviceFound_ = false;
  lastTick_ = now;
  BeginRun(now);
  if (settings_.loop) {
    ResolveAndScan(now);
    return;
  }
  scan().engine->OnProgram();
}

void PortRun::Tick(SteadyTime now) {
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
  if (window_.timerRunning()) scan().engine->OnTimer();
  TraceDroppedResults();
  Check(now);
}

void PortRun::Check(SteadyTime now) {
  ProgrammerEngine& engine = *scan().engine;
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
    End(Outcome::NoDevice, now);
    return;
  }
  switch (engine.lastOutcome()) {
    case RunOutcome::Success:
      End(Outcome::Success, now);
      return;
    case RunOutcome::Failure:
      End(Outcome::Failure, now);
      return;
    case RunOutcome::PortLost:
      End(Outcome::PortLost, now);
      return;
    case RunOutcome::NoDevice:
      End(Outcome::NoDevice, now);
      return;
    case RunOutcome::None:
      break;
  }
  if (state.runState == RunProgramming && engine.ticksWithoutProgress() >= settings_.stallTicks) {
    End(Outcome::Stalled, now);
    return;
  }
  // The scan has left the last port this engine stands for: the engine would
  // go on to its next name, which leads nowhere here.
  if (state.runState == RunConnecting && state.connectStep == StepNextPort &&
      engine.portIndex() + 1 >= scan().count) {
    if (scanIndex_ + 1 < scans_.size()) {
      engine.OnExit();
      ++scanIndex_;
      window_.Revive();
      scan().engine->OnProgram();
      return;
    }
    End(Outcome::NoDevice, now);
  }
}

bool PortRun::DeviceFound(SteadyTime now) {
  // The scan opened what the name stood for when it began; a device that
  // answers there after the name has gone elsewhere is not this port's.
  if (settings_.loop && !StillTheNamedDevice()) {
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
bool PortRun::MayWrite() {
  if (refused_ != Refusal::None) return false;
  if (deviceFound_ || phase_ != Phase::Running) return true;
  // Not an answer to a device: the rest of a handshake the port took in part.
  if (scan().engine->state().connected != 1) return true;
  return DeviceFound(lastTick_);
}

void PortRun::End(Outcome outcome, SteadyTime now) {
  ProgrammerEngine& engine = *scan().engine;
  engine.OnExit();
  const bool waiting = settings_.loop && !deviceFound_;
  if (waiting && outcome != Outcome::Interrupted) {
    // No device yet on a port that waits for one: look again, for ever.
    NextScan(now);
    return;
  }
  if (!waiting) {
    RunResult result;
    const bool severalTried = outcome == Outcome::NoDevice && targets_.size() > 1;
    result.target = severalTried ? nullptr : current();
    result.outcome = outcome;
    // Only a device that sent its result reported a status.
    if (outcome == Outcome::Success || outcome == Outcome::Failure) result.deviceStatus = engine.lastDeviceStatus();
    result.id = runId_;
    result.sent = window_.bytesSent();
    result.total = window_.imageLength();
    result.seconds = std::chrono::duration<double>(now - runStart_).count();
    result.start = runStartWall_;
    result.end = std::chrono::system_clock::now();
    lastOutcome_ = outcome;
    if (outcome == Outcome::Success) {
      ++programmed_;
    } else {
      ++failed_;
    }
    observer_.Result(*this, result);
  }
  if (settings_.loop && outcome != Outcome::Interrupted && !halted_) {
    // The next device on this port: a new scan of it, which never gives up.
    deviceFound_ = false;
    BeginRun(now);
    NextScan(now);
    return;
  }
  phase_ = Phase::Done;
}

void PortRun::NextScan(SteadyTime now) {
  if (now < nextResolve_) {
    scanPending_ = true;  // the tick starts it when the names may be read again
    return;
  }
  ResolveAndScan(now);
}

void PortRun::ResolveAndScan(SteadyTime now) {
  scanPending_ = false;
  nextResolve_ = now + kResolvePeriod;
  ResolveTargets();
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
  scan().engine->OnProgram();
}

void PortRun::ResolveTargets() {
  for (Scan& each : scans_) {
    bool moved = false;
    for (std::size_t slot = 0; slot < each.count; ++slot) {
      PortTarget& target = targets_[each.first + slot];
      const std::string before = target.path;
      ResolveAgain(settings_.tree, target);
      moved = moved || target.path != before;
    }
    if (!moved) continue;
    // The engine's ports lead to the devices the names stand for now.
    std::array<std::string, kEngineSlots> devices;
    for (std::size_t slot = 0; slot < each.count; ++slot) devices[slot] = targets_[each.first + slot].path;
    std::array<std::string, kEngineSlots> openAs;
    std::unique_ptr<SerialPort> backend = MakeSerialBackend(devices, openAs);
    each.port->Rebind(*backend, openAs);
    each.backend = std::move(backend);
  }
}

bool PortRun::StillTheNamedDevice() const {
  const PortTarget* target = current();
  return target != nullptr && StillNamed(*target);
}

void PortRun::Interrupt(SteadyTime now) {
  if (phase_ != Phase::Running) return;
  End(Outcome::Interrupted, now);
  for (Scan& each : scans_) each.engine->OnExit();
  phase_ = Phase::Done;
}

// The trace shows the bytes as they came; say there which result was not trusted.
void PortRun::TraceDroppedResults() {
  // The engine counts from 0 again in each run.
  const std::uint32_t dropped = scan().engine->droppedResults();
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

void PortRun::OnStatus(const char* text) { observer_.Status(*this, text); }
void PortRun::OnDetail(const char* detail) {
  // The dialog's stall notice is advice for its Program button; here a quiet
  // device is told of by --stall-timeout's own result.
  if (phase_ == Phase::Running && scan().engine->stallNoticeShown()) return;
  observer_.Detail(*this, detail);
}
void PortRun::OnMessage(const char* text, MessageIcon icon) {
  if (loadMessage_ != nullptr) {
    *loadMessage_ = text;
    return;
  }
  observer_.Message(*this, text, icon);
}

void PortRun::OnProgress(std::uint32_t sent, std::uint32_t total) {
  if (!blockServed_) {
    blockServed_ = true;
    firstBlock_ = lastTick_;
  }
  lastBlock_ = lastTick_;
  observer_.Progress(*this, sent, total);
}

void PortRun::DescribeTriedPorts(std::FILE* out, double silentSeconds) const {
  for (const Scan& each : scans_) {
    for (std::size_t slot = 0; slot < each.count; ++slot) {
      const PortTarget& target = targets_[each.first + slot];
      const RoutedPort::SlotRecord& record = each.port->record(slot);
      std::string name = target.label;
      if (!target.path.empty() && target.path != target.label) name += " (" + target.path + ")";
      if (!target.missing.empty()) {
        std::fprintf(out, "%s: %s\n", name.c_str(), target.missing.c_str());
      } else if (!record.tried) {
        std::fprintf(out, "%s: not tried\n", name.c_str());
      } else if (!record.opened) {
        std::fprintf(out, "%s: could not open it: %s; %s\n", name.c_str(), record.error.data(),
                     OpenAdvice(target.path, record.error.data()).c_str());
      } else {
        std::fprintf(out,
                     "%s: opened, but no device answered in %.0f s: check that the device has power, that the "
                     "cable is plugged in at both ends, that the device is waiting for a host (reset it), or try "
                     "another port\n",
                     name.c_str(), silentSeconds);
      }
    }
  }
}

}  // namespace tarnwick::cli
