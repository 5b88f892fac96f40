#include "run_machine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tarnwick {

namespace {
// Room for the longest status text: "Programming...    100% Done  ".
constexpr std::size_t kStatusBufferSize = 64;
}  // namespace

void ProgrammerEngine::OnInitDialog() {
  state_.ResetForInit();
  window_.EnableControl(IdProgram, false);
  window_.EnableControl(IdStop, false);
}

void ProgrammerEngine::OnLoadFileStarted() { window_.SetStatusText(kTextOpenFile); }

bool ProgrammerEngine::LoadFile(const std::string& path) {
  const LoadResult result = LoadImageFile(state_, path);
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
          // No tick may arrive while the box is open.
          window_.KillTimer();
          window_.ShowMessage(kTextCannotConnect, MessageIcon::Exclamation);
          window_.DestroyMainWindow();
          return;
      }
      return;
    case RunConnected:
      state_.runState = RunProgramming;  // a pause of one tick, no poll
      return;
    case RunProgramming:
      switch (PollResult()) {
        case kResultSuccess:
          // Idle before the box, so the ticks during it do nothing.
          state_.connectStep = StepFirstPort;
          state_.runState = RunIdle;
          window_.ShowMessage(kTextSucceeded, MessageIcon::Information);
          return;
        case kResultFailure:
          // The run goes on (the device may try again); ticks during the box
          // keep serving it but must not open a second box.
          if (failureBoxShowing_) return;
          failureBoxShowing_ = true;
          window_.ShowMessage(kTextFailed, MessageIcon::Exclamation);
          failureBoxShowing_ = false;
          return;
        default:
          return;
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
      state_.connectStep = StepOpenPort;
      return ScanRunning;

    case StepOpenPort: {
      const char* portName = kPortNames[portIndex_];
      if (!link_.OpenPort(portName)) {
        char text[kStatusBufferSize];
        std::snprintf(text, sizeof text, "Error Open %s !", portName);
        window_.SetStatusText(text);
        window_.SetStatusDetail(link_.LastOpenError());
        state_.connectStep = StepNextPort;
        return ScanRunning;
      }
      link_.ConfigurePort();
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
      if (state_.connected == 1) {
        window_.SetStatusText(kTextConnected);
        window_.EnableControl(IdStop, false);
        return ScanConnected;
      }
      if (probeAttempts_ % kHandshakeInterval == 0) link_.SendHandshake();
      char text[kStatusBufferSize];
      std::snprintf(text, sizeof text, "Connect %s %s", kPortNames[portIndex_],
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
      if (portIndex_ >= kPortNames.size() - 1) return ScanAllPortsFailed;
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
    state_.resultOk = (firstBodyByte == 0) ? 1 : 0;
    failedResultPending_ = (firstBodyByte != 0);
  }
}

void ProgrammerEngine::ServeBlock(std::uint8_t requestByte) {
  // The device names the block it wants by its number modulo 64: the next
  // block advances the counter, anything else gets the last block again.
  std::uint32_t block = state_.blockCounter;
  if (requestByte == (state_.blockCounter & kSequenceMask)) ++block;

  std::array<std::uint8_t, kFrameBufferSize> source{};
  std::array<std::uint8_t, kFrameBufferSize> frame{};
  source[0] = requestByte;

  // A request that names no block of the image (none served yet in this run,
  // or one past its end) gets an empty block; nothing outside the image is
  // read and the counters stay inside it.
  const std::uint32_t start = block == 0 ? 0 : (block - 1) * kBlockSize;
  if (block == 0 || start > state_.imageLength) {
    const int length = BuildFrame(source.data(), frame.data(), 0);
    link_.SendFrame(WriteChannel::Block, frame.data(), static_cast<std::size_t>(length));
    return;
  }

  state_.blockCounter = block;
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
    window_.EnableControl(IdProgram, true);
    window_.EnableControl(IdStop, false);
    window_.SetStatusText(kTextDone);
  }
}

}  // namespace tarnwick
