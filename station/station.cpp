#include "station.h"

#include <utility>

#include "image_identity.h"

namespace tarnwick::station {

Station::Station(const LaneSettings& settings, StationObserver& observer) : settings_(settings), observer_(observer) {}

Station::~Station() = default;

Lane& Station::AddLane(std::vector<PortTarget> targets) {
  lanes_.push_back(std::make_unique<Lane>(std::move(targets), settings_, static_cast<StationObserver&>(*this)));
  return *lanes_.back();
}

bool Station::Load(const std::string& path, std::string& error, std::string& warning) {
  if (lanes_.empty()) {
    error = "no port to program on";
    return false;
  }
  for (auto& lane : lanes_) {
    if (!lane->Load(path, error)) return false;
  }
  const Lane& first = *lanes_.front();
  return IdentifyImage(path, first.imageData(), first.imageLength(), image_, error, warning);
}

bool Station::OpenLog(const std::string& path, std::string& error) {
  logging_ = log_.Open(path, error);
  return logging_;
}

void Station::Start(SteadyTime now) {
  for (auto& lane : lanes_) lane->Start(now);
}

void Station::Tick(SteadyTime now) {
  for (auto& lane : lanes_) lane->Tick(now);
}

void Station::Interrupt(SteadyTime now) {
  for (auto& lane : lanes_) lane->Interrupt(now);
}

void Station::Halt() {
  for (auto& lane : lanes_) lane->Halt();
}

bool Station::active() const {
  for (const auto& lane : lanes_) {
    if (lane->active()) return true;
  }
  return false;
}

void Station::Started(const Lane& lane, const RunStart& start) {
  if (logging_ && !log_.AppendStart(start, image_)) LogRefused();
  observer_.Started(lane, start);
}

void Station::Result(const Lane& lane, const RunResult& result) {
  if (logging_ && !log_.Append(result, image_)) LogRefused();
  observer_.Result(lane, result);
}

void Station::LogRefused() {
  const bool first = !halted_;
  if (first) {
    halted_ = true;
    Halt();
  }
  observer_.NotLogged(log_.failure(), first, log_.record(), log_.recordLength());
}

}  // namespace tarnwick::station
