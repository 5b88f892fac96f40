// The control logic of a programming run: the port scan, the block server and
// the run state machine, stepped once per 100 ms timer tick.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "frame_codec.h"
#include "image_file.h"
#include "programmer_state.h"
#include "serial_link.h"
#include "serial_port.h"
#include "window_ops.h"

namespace tarnwick {

enum RunState : std::int32_t {
  RunStart = 0,
  RunConnecting = 1,
  RunConnected = 2,
  RunProgramming = 3,
  RunIdle = 4,
};

enum ConnectStep : std::int32_t {
  StepFirstPort = 0,
  StepOpenPort = 1,
  StepProbe = 2,
  StepNextPort = 3,
};

enum ScanResult : int {
  ScanRunning = 0,
  ScanConnected = 1,
  ScanAllPortsFailed = 2,
  ScanStopped = 3,
};

// What PollResult reports.
inline constexpr int kResultNone = 0;
inline constexpr int kResultSuccess = 1;
inline constexpr int kResultFailure = 2;

// The ports the dialog scans, by the names its operator knows them by.
inline constexpr std::array<const char*, 4> kPortNames = {"COM1", "COM2", "COM3", "COM4"};
inline constexpr std::uint32_t kProbeLimit = 100;
inline constexpr std::uint32_t kHandshakeInterval = 5;
inline constexpr std::uint8_t kSequenceMask = 0x3F;
// Ticks of RunProgramming in which the run does not move on (10 s) before the
// operator is told and may start over.
inline constexpr std::uint32_t kStallTicks = 100;
inline constexpr std::array<const char*, 4> kSpinnerGlyphs = {"-", "\\", "|", "/"};

inline constexpr const char* kTextIdle = "Idle";
inline constexpr const char* kTextOpenFile = "Open File";
inline constexpr const char* kTextStop = "Stop";
inline constexpr const char* kTextConnected = "Connected";
inline constexpr const char* kTextDone = "Done";
inline constexpr const char* kTextNoTimer = "Not enough timers available for this window";
inline constexpr const char* kTextCannotConnect = "  Can not Connect To Device!    ";
inline constexpr const char* kTextSucceeded = "   Programming Device Succeed!   ";
inline constexpr const char* kTextFailed = "   Programming Device Fail!    ";
// Our own texts: the message when the port fails during a run ("%s" is the
// port's name), and the status detail of a run whose device went quiet.
inline constexpr const char* kTextPortLostFormat = "The connection to the device on %s was lost.";
inline constexpr const char* kTextStalled =
    "The device has asked for no new block and sent no result for 10 s. Press Program to start again on the "
    "same port.";
// The status detail when a result frame fails its checksum ("%u": how many in this run).
inline constexpr const char* kTextResultDroppedFormat =
    "A result from the device arrived damaged (checksum wrong) and was ignored (%u in this run).";

// How a run ended, for every front end, which acts on it without reading
// message texts. The engine itself ends runs in the first four ways; a
// station that bounds a run's silence or is stopped ends them in the others.
enum class RunOutcome {
  None,         // no run has ended yet (or one is going on)
  Success,      // the device reported status 0
  Failure,      // the device reported a non-zero status
  NoDevice,     // the scan found no device on any port
  PortLost,     // the port failed during the run
  Stalled,      // the run stopped moving on for longer than its owner allows
  Interrupted,  // the run's owner ended it (Ctrl-C, a failed record)
};

// One per process: owns the run's record, the serial link and the scan
// counters, and talks to the window only through WindowOps.
class ProgrammerEngine {
 public:
  ProgrammerEngine(SerialPort& port, WindowOps& window, ImageFile& imageFile)
      : link_(port), window_(window), imageFile_(imageFile) {}
  ProgrammerEngine(const ProgrammerEngine&) = delete;
  ProgrammerEngine& operator=(const ProgrammerEngine&) = delete;

  // The ports the scan opens, in order, by the names its texts show them by
  // ("COM1", "/dev/ttyUSB0"): COM1 to COM4 unless the owner says otherwise.
  // The owner keeps the names alive and changes them only between runs.
  void SetPortNames(std::span<const char* const> names) { portNames_ = names; }
  std::span<const char* const> portNames() const { return portNames_; }

  // The dialog's initialisation: zeroes the run's state, disables Program and Stop.
  void OnInitDialog();

  // Load File, before the file chooser opens: status "Open File".
  void OnLoadFileStarted();
  // Load File, once the operator chose `path`: reads and descrambles the image,
  // shows its length and enables Program; on failure shows why in a box with
  // the stop icon and changes nothing else. Returns whether it loaded.
  bool LoadFile(const std::string& path);

  void OnProgram();
  void OnStop();
  void OnTimer();
  // Leaving through Exit: the port is closed if it is open.
  void OnExit() { link_.ClosePort(); }

  // The steps behind the handlers, public so that tests can drive them.
  void StepRun();
  ScanResult StepConnection();
  int PollResult();
  void ReceiveFrames();
  void DispatchPacket();
  void ServeBlock(std::uint8_t requestByte);

  ProgrammerState& state() { return state_; }
  const ProgrammerState& state() const { return state_; }
  SerialLink& link() { return link_; }
  std::uint32_t portIndex() const { return portIndex_; }
  std::uint32_t probeAttempts() const { return probeAttempts_; }

  RunOutcome lastOutcome() const { return lastOutcome_; }
  // The status byte of the last result frame received.
  std::uint8_t lastDeviceStatus() const { return lastDeviceStatus_; }
  // Ticks of RunProgramming since the run last moved on: a block served for
  // the first time in the run, or a result (or since it began to program).
  // A device that asks again and again for what it already has does not move
  // it on. The stall notice comes at kStallTicks.
  std::uint32_t ticksWithoutProgress() const { return ticksWithoutProgress_; }
  // Result frames of this run dropped because their checksum failed.
  std::uint32_t droppedResults() const { return droppedResults_; }
  bool stallNoticeShown() const { return stallNoticeShown_; }

 private:
  void NoticeStallIfDue();
  void NoteProgress();
  void EndRunOnLostPort();
  ProgrammerState state_;
  SerialLink link_;
  std::span<const char* const> portNames_{kPortNames};
  WindowOps& window_;
  ImageFile& imageFile_;
  FrameParser parser_;
  std::uint32_t portIndex_ = 0;
  std::uint32_t probeAttempts_ = 0;
  // A result with a non-zero status arrived and is not yet reported.
  bool failedResultPending_ = false;
  // The furthest the run has got: one more than the index of the furthest
  // block served. The device can be anywhere up to it, never beyond.
  std::uint32_t furthestBlock_ = 0;
  // The end of the image has been served in this run.
  bool endServed_ = false;
  std::uint32_t ticksWithoutProgress_ = 0;
  std::uint32_t droppedResults_ = 0;
  bool stallNoticeShown_ = false;
  RunOutcome lastOutcome_ = RunOutcome::None;
  std::uint8_t lastDeviceStatus_ = 0;
};

}  // namespace tarnwick
