// The serial port as a lane's engine sees it: the platform's port, which
// opens the names the engine scans, plus what the lane needs around it. It
// remembers what each open did (for the advice when no device answers), holds
// back the first block of a run until the lane lets it go, and can show every
// frame in hex.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "serial_link.h"
#include "serial_port.h"

namespace tarnwick::station {

// Where the frames go, in hex, a line at a time.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void TraceLine(const char* text, std::size_t length) = 0;
};

// Asked before each write that is not the handshake: whether the bytes may go
// out now. The first block of a run goes to a device only once its run has
// been recorded as started and the port's name still stands for it.
class WriteGate {
 public:
  virtual ~WriteGate() = default;
  virtual bool MayWrite() = 0;
};

// What the last open of one of the lane's ports did.
struct OpenRecord {
  bool tried = false;
  bool opened = false;
  std::array<char, 512> error{};  // why it did not open, in the system's words
  PortError kind{};               // and of what kind (holderName points into holder)
  std::array<char, 64> holder{};
};

class LanePort final : public SerialPort {
 public:
  // `inner` opens the names; the lane's engine scans `names` (kept alive by
  // the lane), and `labels` head each traced line of the port at that place.
  LanePort(SerialPort& inner, WriteGate& gate);

  // The names the engine scans, and a label for each; the records start anew.
  void SetNames(std::span<const char* const> names, std::span<const char* const> labels);
  // Frames written and bytes read go to `out` in hex; nullptr stops it.
  void Trace(TraceSink* out) { trace_ = out; }

  bool Open(const char* portName) override;
  // A port that refuses the line settings is recorded as one that did not open.
  bool Configure() override;
  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override;
  std::size_t BytesWaiting() override { return inner_.BytesWaiting(); }
  std::size_t Read(std::uint8_t* out, std::size_t count) override;
  void Close() override { inner_.Close(); }
  bool HasFailed() const override { return inner_.HasFailed(); }
  const char* LastError() const override { return inner_.LastError(); }
  PortError LastPortError() const override { return inner_.LastPortError(); }

  // What the last open of the port at `index` in the names did.
  const OpenRecord& record(std::size_t index) const { return records_[index]; }

 private:
  void Remember(OpenRecord& record);
  void Dump(char direction, const std::uint8_t* data, std::size_t length);

  SerialPort& inner_;
  WriteGate& gate_;
  std::span<const char* const> names_;
  std::span<const char* const> labels_;
  std::vector<OpenRecord> records_;
  std::size_t index_ = 0;
  TraceSink* trace_ = nullptr;
  std::array<std::uint8_t, kFrameBufferSize> handshake_{};
};

}  // namespace tarnwick::station
