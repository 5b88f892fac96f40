// The simulated target device's protocol, free of any I/O: fed the bytes it
// receives and the current time, it produces the frames it sends and a report
// of each programming run.
//
// How the device works:
// - It waits for the host's handshake (0xCC 0xDD 0x80 0x08 "qlumtrav" 0x00,
//   right checksum); any other frame is ignored while no run goes on. A valid
//   handshake at any time starts a run from block 0, since the host starts
//   over on every Program press.
// - It asks for block k with the request 0x33 0xBB 0x80 0x00 (k & 0x3F)
//   checksum and checks the answer: checksum, echoed sequence number, at most
//   128 data bytes. After a good full block it asks for the next one. A bad
//   frame, or no frame within the time-out, makes it ask again for the same
//   block; a block is asked for at most `triesPerBlock` times, then the run
//   ends with status kStatusGaveUp. A late copy of the block just taken is
//   dropped without a new request.
// - A block of fewer than 128 bytes (an empty one included) ends the image,
//   and the result 0x33 0xBB 0x81 0x00 status checksum ends the run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host_frame_reader.h"

namespace tarnwick::device {

// A moment on the line, counted from an arbitrary start.
using LineTime = std::chrono::microseconds;

inline constexpr std::uint8_t kStatusSuccess = 0x00;
inline constexpr std::uint8_t kStatusGaveUp = 0x02;        // a block failed on every try
inline constexpr std::uint8_t kStatusImageTooLong = 0x03;  // more than 65,536 bytes were sent
inline constexpr int kDefaultTriesPerBlock = 10;

struct DeviceSettings {
  LineTime blockTimeout = std::chrono::seconds(1);
  int triesPerBlock = kDefaultTriesPerBlock;
  unsigned answerAfter = 1;  // answers the Nth handshake and every one after it
  bool silent = false;       // answers nothing at all
  std::optional<std::uint8_t> forcedStatus;  // status sent after an image received whole
  double repeatRate = 0.0;   // chance of asking again for a good block
  std::uint32_t seed = 1;
};

struct RunReport {
  std::vector<std::uint8_t> image;  // the bytes of every block taken, in order
  bool whole = false;  // every block arrived good and a short block ended the image
  std::uint8_t status = kStatusSuccess;  // what the result frame said
  std::string failure;                   // why the run failed; empty when whole
  unsigned requests = 0;                 // request frames sent
  unsigned badFrames = 0;
  unsigned timeouts = 0;
};

class SimulatedDevice {
 public:
  using Frame = std::vector<std::uint8_t>;
  using Logger = std::function<void(const std::string&)>;

  explicit SimulatedDevice(DeviceSettings settings);

  // One line for each frame received or sent, and for each time-out.
  void SetLogger(Logger logger) { logger_ = std::move(logger); }

  void Receive(std::uint8_t byte, LineTime now);
  void Receive(const std::uint8_t* bytes, std::size_t count, LineTime now);
  // Acts on a time-out that has come due by `now`.
  void Advance(LineTime now);
  // When Advance next has something to do; empty while no block is awaited.
  std::optional<LineTime> NextDeadline() const;

  // The frames to send, oldest first; each is handed out once.
  std::vector<Frame> TakeFrames();
  // The runs that ended since the last call.
  std::vector<RunReport> TakeFinishedRuns();

  bool RunInProgress() const { return awaitingBlock_; }
  // Good blocks taken so far by the run in progress; 0 while none goes on.
  std::uint32_t blocksTaken() const { return awaitingBlock_ ? block_ : 0; }
  // Runs started (restarts included); a change tells the line that what the
  // host has not yet read belongs to a run that is over.
  std::uint64_t runStarts() const { return runStarts_; }
  unsigned handshakesSeen() const { return handshakesSeen_; }

 private:
  void OnFrame(const HostFrame& frame, LineTime now);
  void OnHandshake(LineTime now);
  void OnBlock(const HostFrame& frame, LineTime now);
  void StartRun(LineTime now);
  void AskForBlock(LineTime now);
  void TryFailed(const std::string& why, LineTime now);
  void FinishRun(std::uint8_t status, const std::string& failure);
  std::uint8_t ExpectedSequence() const;
  void Log(const std::string& line) const;

  DeviceSettings settings_;
  HostFrameReader reader_;
  std::mt19937 random_;
  Logger logger_;

  unsigned handshakesSeen_ = 0;
  std::uint64_t runStarts_ = 0;
  bool awaitingBlock_ = false;
  std::uint32_t block_ = 0;  // number of the block awaited, from 0
  int tries_ = 0;            // requests sent for that block
  LineTime deadline_{};
  RunReport run_;

  std::vector<Frame> outgoing_;
  std::vector<RunReport> finished_;
};

// A device frame laid out like a host frame: sync, command, count byte (data
// bytes - 1), data, checksum (low 8 bits of the sum from command to last data byte).
SimulatedDevice::Frame BuildDeviceFrame(std::uint8_t command, std::uint8_t dataByte);

}  // namespace tarnwick::device
