#include "run_machine.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tarnwick {

namespace {
// Room for the longest status text: "Programming...    100% Done  ", or a
// port's name in "Connect %s %s" (a name longer than a path may be is cut).
constexpr std::size_t kStatusBufferSize = 4200;
}  // namespace

void ProgrammerEngine::OnInitDialog() {
  state_.ResetForInit();
  window_.EnableControl(IdProgram, false);
  window_.EnableControl(IdStop, false);
}

void ProgrammerEngine::OnLoadFileStarted() { window_.SetStatusText(kTextOpenFile); }

bool ProgrammerEngine::LoadFile(const std::string& path) {
  const LoadResult result = LoadImageFile(state_, path, imageFile_);
  if (!result.ok) {
    window_.ShowMessage(result.message.c_str(), MessageIcon::Stop);
    return false;
  }
  window_.SetReadout(IdImageLength, state_.imageLength);
  window_.EnableControl(IdProgram, true);
  return true;
}

void ProgrammerEngine::OnProgram() {
  window_.EnableControl(IdProgram, false);
  state_.ResetForProgram();
  failedResultPending_ = false;
  furthestBlock_ = 0;
  endServed_ = false;
  ticksWithoutProgress_ = 0;
  droppedResults_ = 0;
  stallNoticeShown_ = false;
  lastOutcome_ = RunOutcome::None;

  // A device seen before is still listening on the port of the earlier run,
  // which stays open: greet it at once, without a scan. If that port has been
  // closed since (a stop or the probe limit), only a new scan can reach it.
  if (state_.deviceSeen == 1 && link_.IsOpen()) {
    state_.connectStep = StepFirstPort;
    state_.runState = RunConnected;
    state_.connected = 1;
    link_.SendHandshake();
  } else {
    // A port still open here belongs to a scan that was stopped but whose stop
    // was not yet honoured; close it so that the new scan can open it again.
    link_.ClosePort();
    if (window_.StartTimer()) {
      window_.EnableControl(IdStop, true);
      state_.connectStep = StepFirstPort;
      state_.connected = 0;
      state_.runState = RunConnecting;
    } else {
      window_.ShowMessage(kTextNoTimer, MessageIcon::Exclamation);
      window_.DestroyMainWindow();
    }
  }
  // Only now may ticks step the run: the timer-failure box above must not see one.
  state_.armed = 1;
}

void ProgrammerEngine::OnStop() {
  window_.EnableControl(IdProgram, true);
  window_.EnableControl(IdStop, false);
  state_.stopRequested = 1;
  window_.SetStatusText(kTextStop);
}

void ProgrammerEngine::OnTimer() {
  if (state_.armed != 0) StepRun();
}

void ProgrammerEngine::StepRun() {
  switch (static_cast<std::uint32_t>(state_.runState)) {
    case RunStart:
      state_.connectStep = StepFirstPort;
      state_.runState = RunConnecting;
      return;
    case RunConnecting:
      switch (StepConnection()) {
        case ScanRunning:
          return;
        case ScanConnected:
          state_.connectStep = StepFirstPort;
          state_.runState = RunConnected;
          return;
        case ScanStopped:
          state_.connectStep = StepFirstPort;
          state_.runState = RunIdle;
          return;
        case ScanAllPortsFailed:
          lastOutcome_ = RunOutcome::NoDevice;
          // No tick may arrive while the box is open.
          window_.KillTimer();
          window_.ShowMessage(kTextCannotConnect, MessageIcon::Exclamation);
          window_.DestroyMainWindow();
          return;
      }
      return;
    case RunConnected:
      // A pause of one tick, no poll. The handshake of a device-seen run may
      // already have found the port gone.
      if (link_.PortFailed()) {
        EndRunOnLostPort();
        return;
      }
      state_.runState = RunProgramming;
      return;
    case RunProgramming: {
      // Counted before the poll, which sets it back to 0 when the run moves on.
      if (ticksWithoutProgress_ < UINT32_MAX) ++ticksWithoutProgress_;
      const int result = PollResult();
      // A success that arrived with the port's last bytes still counts.
      if (result != kResultSuccess && link_.PortFailed()) {
        EndRunOnLostPort();
        return;
      }
      if (result == kResultNone) NoticeStallIfDue();
      switch (result) {
        case kResultSuccess:
          lastOutcome_ = RunOutcome::Success;
          // Idle before the box, so the ticks during it do nothing.
          state_.connectStep = StepFirstPort;
          state_.runState = RunIdle;
          window_.ShowMessage(kTextSucceeded, MessageIcon::Information);
          return;
        case kResultFailure:
          lastOutcome_ = RunOutcome::Failure;
          // The run ends as after success: idle before the box, so the ticks
          // during it do nothing; the port stays open for the next run.
          state_.connectStep = StepFirstPort;
          state_.runState = RunIdle;
          window_.EnableControl(IdProgram, true);
          window_.EnableControl(IdStop, false);
          window_.ShowMessage(kTextFailed, MessageIcon::Exclamation);
          return;
        default:
          return;
      }
    }
    case RunIdle:
      return;
    default:
      state_.runState = RunIdle;
      return;
  }
}

ScanResult ProgrammerEngine::StepConnection() {
  switch (static_cast<std::uint32_t>(state_.connectStep)) {
    case StepFirstPort:
      portIndex_ = 0;
      if (portNames_.empty()) return ScanAllPortsFailed;
      state_.connectStep = StepOpenPort;
      return ScanRunning;

    case StepOpenPort: {
      const char* portName = portNames_[portIndex_];
      // A port that opens but refuses the line settings cannot be used
      // either: closed again, it fails as one that did not open. The reason
      // is read before the close.
      const bool opened = link_.OpenPort(portName);
      if (!opened || !link_.ConfigurePort()) {
        char text[kStatusBufferSize];
        std::snprintf(text, sizeof text, "Error Open %s !", portName);
        window_.SetStatusText(text);
        window_.SetStatusDetail(link_.LastOpenError());
        link_.ClosePort();
        state_.connectStep = StepNextPort;
        return ScanRunning;
      }
      probeAttempts_ = 0;
      state_.connectStep = StepProbe;
      return ScanRunning;
    }

    case StepProbe: {
      if (probeAttempts_ == kProbeLimit) {
        link_.ClosePort();
        state_.connectStep = StepNextPort;
        return ScanRunning;
      }
      if (link_.PortFailed()) {
        // The port went away while it was probed: whatever answered on it is
        // gone too, so the scan goes on with the next port as if none had.
        window_.SetStatusDetail(link_.LastOpenError());
        link_.ClosePort();
        state_.connected = 0;
        state_.connectStep = StepNextPort;
        return ScanRunning;
      }
      if (state_.connected == 1) {
        window_.SetStatusText(kTextConnected);
        window_.EnableControl(IdStop, false);
        return ScanConnected;
      }
      if (probeAttempts_ % kHandshakeInterval == 0) link_.SendHandshake();
      char text[kStatusBufferSize];
      std::snprintf(text, sizeof text, "Connect %s %s", portNames_[portIndex_],
                    kSpinnerGlyphs[probeAttempts_ % kSpinnerGlyphs.size()]);
      window_.SetStatusText(text);
      ++probeAttempts_;
      ReceiveFrames();
      if (state_.stopRequested == 1) {
        link_.ClosePort();
        return ScanStopped;
      }
      return ScanRunning;
    }

    case StepNextPort:
      if (portIndex_ + 1 >= portNames_.size()) return ScanAllPortsFailed;
      ++portIndex_;
      state_.connectStep = StepOpenPort;
      return ScanRunning;

    default:
      state_.connectStep = StepFirstPort;
      return ScanRunning;
  }
}

int ProgrammerEngine::PollResult() {
  ReceiveFrames();
  if (state_.resultOk == 1) return kResultSuccess;
  if (failedResultPending_) {
    failedResultPending_ = false;
    return kResultFailure;
  }
  return kResultNone;
}

void ProgrammerEngine::ReceiveFrames() {
  const std::uint32_t count = link_.PollReceive(state_);
  for (std::uint32_t i = 0; i < count; ++i) {
    // Each frame is acted on (and a request answered) before the next byte is looked at.
    if (parser_.Feed(state_, state_.rxBytes[i])) DispatchPacket();
  }
}

void ProgrammerEngine::DispatchPacket() {
  const std::uint8_t command = state_.rxPacket[0];
  const std::uint8_t firstBodyByte = state_.rxPacket[2];
  if (command == kCommandRequest) {
    state_.connected = 1;
    state_.deviceSeen = 1;
    ServeBlock(firstBodyByte);
  } else if (command == kCommandResult) {
    // A result decides the run: one damaged on the line (a failure read as
    // success, or a request read as a result) must not. It is dropped; the
    // device's next frame, or the stall bound, ends the run.
    if (!DeviceChecksumHolds(state_)) {
      if (droppedResults_ < UINT32_MAX) ++droppedResults_;
      char text[160];
      std::snprintf(text, sizeof text, kTextResultDroppedFormat, droppedResults_);
      window_.SetStatusDetail(text);
      return;
    }
    lastDeviceStatus_ = firstBodyByte;
    // Success before the end of the image has gone out cannot be about this
    // run's image: a result left over from an earlier run, or a request
    // damaged on the line into a result. It is not taken for success; should
    // the device really have stopped, the run is seen to stall.
    if (firstBodyByte == 0 && !endServed_) return;
    state_.resultOk = (firstBodyByte == 0) ? 1 : 0;
    failedResultPending_ = (firstBodyByte != 0);
    ticksWithoutProgress_ = 0;
  }
}

void ProgrammerEngine::ServeBlock(std::uint8_t requestByte) {
  std::array<std::uint8_t, kFrameBufferSize> source{};
  std::array<std::uint8_t, kFrameBufferSize> frame{};
  source[0] = requestByte;  // every answer echoes the request
  auto sendEmptyBlock = [&] {
    const int length = BuildFrame(source.data(), frame.data(), 0);
    link_.SendFrame(WriteChannel::Block, frame.data(), static_cast<std::size_t>(length));
  };

  // Which block the request names, counted from 1 like blockCounter (0: none).
  // The device names a block by its index modulo 64, and it can be anywhere
  // from the first block up to the one after the furthest served, never
  // beyond: so the number names the last block with that number up to there.
  // Mostly that is the block after the one last served, or that block again;
  // it is an earlier one when a request was misread and the host went ahead
  // of the device, which then gets the block it asked for under its own number.
  // Bytes 64 to 255 are no block number: the block last served goes again.
  std::uint32_t block = state_.blockCounter;
  if (requestByte <= kSequenceMask) {
    const std::uint32_t back = (furthestBlock_ - requestByte) & kSequenceMask;
    block = back > furthestBlock_ ? 0 : furthestBlock_ - back + 1;
  }

  // A request that names no block of the image (a number before the first
  // block, or a block beyond the end of the image) gets an empty block;
  // nothing outside the image is read and the counters stay as they are.
  const std::uint32_t start = block == 0 ? 0 : (block - 1) * kBlockSize;
  if (block == 0 || start > state_.imageLength) {
    sendEmptyBlock();
    return;
  }

  state_.blockCounter = block;
  // Only a block the device has not had yet moves the run on: one that asks
  // again and again for the same block, or past the end, is stalling.
  if (block > furthestBlock_) {
    furthestBlock_ = block;
    NoteProgress();
  }
  const std::uint32_t end = std::min<std::uint32_t>(block * kBlockSize, state_.imageLength);
  const std::uint32_t blockLength = end - start;
  std::memcpy(source.data() + 1, state_.imageData.data() + start, blockLength);
  const int frameLength = BuildFrame(source.data(), frame.data(), blockLength);

  state_.bytesSent = end;
  link_.SendFrame(WriteChannel::Block, frame.data(), static_cast<std::size_t>(frameLength));
  window_.SetReadout(IdBytesSent, state_.bytesSent);
  window_.SetProgressRange(state_.imageLength);
  window_.SetProgressPosition(state_.bytesSent);

  // An empty image is wholly sent once its empty block has gone.
  const std::uint32_t percent =
      state_.imageLength == 0 ? 100u : state_.bytesSent * 100u / state_.imageLength;
  char text[kStatusBufferSize];
  std::snprintf(text, sizeof text, "Programming...    %u%% Done  ", percent);
  window_.SetStatusText(text);

  if (state_.bytesSent == state_.imageLength) {
    endServed_ = true;
    window_.EnableControl(IdProgram, true);
    window_.EnableControl(IdStop, false);
    window_.SetStatusText(kTextDone);
  }
}

void ProgrammerEngine::NoteProgress() {
  ticksWithoutProgress_ = 0;
  if (stallNoticeShown_) {
    // The device is back and the run goes on as before.
    stallNoticeShown_ = false;
    window_.EnableControl(IdProgram, false);
  }
}

void ProgrammerEngine::NoticeStallIfDue() {
  if (ticksWithoutProgress_ < kStallTicks || stallNoticeShown_) return;
  // The run goes on, in case the device comes back; the operator may start over.
  stallNoticeShown_ = true;
  window_.EnableControl(IdProgram, true);
  window_.SetStatusDetail(kTextStalled);
}

void ProgrammerEngine::EndRunOnLostPort() {
  lastOutcome_ = RunOutcome::PortLost;
  // Idle before the box, so the ticks during it do nothing.
  state_.connectStep = StepFirstPort;
  state_.runState = RunIdle;
  window_.SetStatusDetail(link_.LastOpenError());
  link_.ClosePort();
  char text[kStatusBufferSize];
  std::snprintf(text, sizeof text, kTextPortLostFormat, portNames_[portIndex_]);
  window_.ShowMessage(text, MessageIcon::Exclamation);
  window_.EnableControl(IdProgram, true);
  window_.EnableControl(IdStop, false);
}

}  // namespace tarnwick
