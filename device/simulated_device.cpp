#include "simulated_device.h"

#include <utility>

#include "programmer_state.h"

namespace tarnwick::device {

namespace {

constexpr std::uint8_t kSequenceMask = 0x3F;

std::string BlockText(const HostFrame& frame) {
  return "block " + std::to_string(frame.command) + " (" + std::to_string(frame.length) + " bytes)";
}

}  // namespace

SimulatedDevice::Frame BuildDeviceFrame(std::uint8_t command, std::uint8_t dataByte) {
  const std::uint8_t count = 0x00;  // one data byte
  const auto checksum = static_cast<std::uint8_t>(command + count + dataByte);
  return {kDeviceSync1, kDeviceSync2, command, count, dataByte, checksum};
}

SimulatedDevice::SimulatedDevice(DeviceSettings settings)
    : settings_(std::move(settings)), random_(settings_.seed) {}

void SimulatedDevice::Receive(std::uint8_t byte, LineTime now) {
  // A time-out that fell due before this byte arrived counts first.
  Advance(now);
  switch (reader_.Feed(byte)) {
    case ReadResult::Pending:
      return;
    case ReadResult::BadLength:
      if (awaitingBlock_) {
        ++run_.badFrames;
        Log("<- frame with a bad length");
        TryFailed("bad length", now);
      }
      return;
    case ReadResult::Frame:
      OnFrame(reader_.frame(), now);
      return;
  }
}

void SimulatedDevice::Receive(const std::uint8_t* bytes, std::size_t count, LineTime now) {
  for (std::size_t i = 0; i < count; ++i) Receive(bytes[i], now);
}

void SimulatedDevice::Advance(LineTime now) {
  if (!awaitingBlock_ || now < deadline_) return;
  ++run_.timeouts;
  // What came of the block so far is lost with it.
  reader_.Reset();
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(settings_.blockTimeout);
  Log("-- no block " + std::to_string(ExpectedSequence()) + " within " + std::to_string(waited.count()) +
      " ms");
  TryFailed("time-out", now);
}

std::optional<LineTime> SimulatedDevice::NextDeadline() const {
  if (!awaitingBlock_) return std::nullopt;
  return deadline_;
}

std::vector<SimulatedDevice::Frame> SimulatedDevice::TakeFrames() { return std::exchange(outgoing_, {}); }

std::vector<RunReport> SimulatedDevice::TakeFinishedRuns() { return std::exchange(finished_, {}); }

void SimulatedDevice::OnFrame(const HostFrame& frame, LineTime now) {
  if (IsHandshake(frame)) {
    OnHandshake(now);
  } else if (awaitingBlock_) {
    OnBlock(frame, now);
  } else {
    Log("<- frame ignored (no run)");
  }
}

void SimulatedDevice::OnHandshake(LineTime now) {
  ++handshakesSeen_;
  if (settings_.silent || handshakesSeen_ < settings_.answerAfter) {
    Log("<- handshake, not answered");
    return;
  }
  Log(awaitingBlock_ ? "<- handshake, run starts again" : "<- handshake");
  StartRun(now);
}

void SimulatedDevice::OnBlock(const HostFrame& frame, LineTime now) {
  const std::uint8_t expected = ExpectedSequence();
  if (!frame.checksumOk) {
    ++run_.badFrames;
    Log("<- " + BlockText(frame) + " bad checksum");
    TryFailed("bad checksum", now);
    return;
  }
  if (frame.command != expected) {
    // The host echoes the request it answers, so the number of the block just
    // taken is a late answer to an earlier request: that request was already served.
    const bool lateCopy = block_ > 0 && frame.command == ((block_ - 1) & kSequenceMask);
    if (lateCopy) {
      Log("<- " + BlockText(frame) + " late copy, ignored");
      return;
    }
    ++run_.badFrames;
    Log("<- " + BlockText(frame) + " wrong sequence number, expected " + std::to_string(expected));
    TryFailed("wrong sequence number", now);
    return;
  }
  if (settings_.repeatRate > 0.0 &&
      static_cast<double>(random_()) < settings_.repeatRate * 4294967296.0) {
    Log("<- " + BlockText(frame) + " ok, asked for again");
    TryFailed("asked again", now);
    return;
  }

  Log("<- " + BlockText(frame) + " ok");
  if (run_.image.size() + frame.length > kMaxImageLength) {
    FinishRun(kStatusImageTooLong, "the image went past " + std::to_string(kMaxImageLength) + " bytes");
    return;
  }
  run_.image.insert(run_.image.end(), frame.data.begin(),
                    frame.data.begin() + static_cast<std::ptrdiff_t>(frame.length));
  if (frame.length == kBlockSize) {
    ++block_;
    tries_ = 0;
    AskForBlock(now);
    return;
  }
  run_.whole = true;
  FinishRun(settings_.forcedStatus.value_or(kStatusSuccess), "");
}

void SimulatedDevice::StartRun(LineTime now) {
  ++runStarts_;
  // Frames not yet handed out belong to a run the host has left behind.
  outgoing_.clear();
  run_ = RunReport{};
  run_.image.reserve(kMaxImageLength);
  awaitingBlock_ = true;
  block_ = 0;
  tries_ = 0;
  AskForBlock(now);
}

void SimulatedDevice::AskForBlock(LineTime now) {
  ++tries_;
  ++run_.requests;
  const std::uint8_t sequence = ExpectedSequence();
  outgoing_.push_back(BuildDeviceFrame(kCommandRequest, sequence));
  deadline_ = now + settings_.blockTimeout;
  std::string line = "-> request " + std::to_string(sequence);
  if (tries_ > 1) {
    line += " again (try " + std::to_string(tries_) + " of " + std::to_string(settings_.triesPerBlock) + ")";
  }
  Log(line);
}

void SimulatedDevice::TryFailed(const std::string& why, LineTime now) {
  if (tries_ < settings_.triesPerBlock) {
    AskForBlock(now);
    return;
  }
  FinishRun(kStatusGaveUp, "gave up on block " + std::to_string(block_) + " after " +
                               std::to_string(tries_) + " tries (last: " + why + ")");
}

void SimulatedDevice::FinishRun(std::uint8_t status, const std::string& failure) {
  awaitingBlock_ = false;
  run_.status = status;
  run_.failure = failure;
  if (!failure.empty()) run_.whole = false;
  outgoing_.push_back(BuildDeviceFrame(kCommandResult, status));
  Log("-> result " + std::to_string(status));
  finished_.push_back(std::move(run_));
  run_ = RunReport{};
}

std::uint8_t SimulatedDevice::ExpectedSequence() const {
  return static_cast<std::uint8_t>(block_ & kSequenceMask);
}

void SimulatedDevice::Log(const std::string& line) const {
  if (logger_) logger_(line);
}

}  // namespace tarnwick::device
