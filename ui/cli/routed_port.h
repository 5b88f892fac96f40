// The serial port as one engine sees it: the engine knows its ports as COM1
// to COM4 and walks them in that order; this routes each of those names to
// the device chosen for it, remembers what each open did (for the advice
// when no device answers), and can show every frame in hex.
#pragma once

#include <array>
#include <cstdio>
#include <string>

#include "serial_link.h"
#include "serial_port.h"

namespace tarnwick::cli {

inline constexpr std::size_t kEngineSlots = 4;

// Where the frames go, in hex, a line at a time (standard error, through the
// output queue, in the program).
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

class RoutedPort final : public SerialPort {
 public:
  // `inner` opens what `openAs[k]` names for the engine's COM(k+1); an empty
  // name means that no device stands behind it.
  RoutedPort(SerialPort& inner, const std::array<std::string, kEngineSlots>& openAs);

  // From now on `inner` opens what `openAs` names (the names that stand
  // behind the engine's ports changed between runs). The port open, if any,
  // is closed first; the records stay.
  void Rebind(SerialPort& inner, const std::array<std::string, kEngineSlots>& openAs);

  // Frames written and bytes read go to `out` in hex, each line headed by
  // `labels[slot]`; nullptr stops it.
  void Trace(TraceSink* out, const std::array<const char*, kEngineSlots>& labels);
  // Writes other than the handshake ask `gate` first; a write it holds back
  // takes nothing (the link keeps the bytes). nullptr: every write goes.
  void SetGate(WriteGate* gate) { gate_ = gate; }

  bool Open(const char* portName) override;
  // A port that refuses the line settings is recorded as one that did not open.
  bool Configure() override;
  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override;
  std::size_t BytesWaiting() override { return inner_->BytesWaiting(); }
  std::size_t Read(std::uint8_t* out, std::size_t count) override;
  void Close() override { inner_->Close(); }
  bool HasFailed() const override { return inner_->HasFailed(); }
  const char* LastError() const override { return inner_->LastError(); }

  struct SlotRecord {
    bool tried = false;
    bool opened = false;
    std::array<char, 256> error{};  // why the last open failed
  };
  const SlotRecord& record(std::size_t slot) const { return records_[slot]; }
  void ClearRecords() { records_ = {}; }

 private:
  void Dump(char direction, const std::uint8_t* data, std::size_t length);

  SerialPort* inner_;
  std::array<std::string, kEngineSlots> openAs_;
  std::array<SlotRecord, kEngineSlots> records_{};
  std::size_t slot_ = 0;
  TraceSink* trace_ = nullptr;
  WriteGate* gate_ = nullptr;
  std::array<std::uint8_t, kFrameBufferSize> handshake_{};
  std::array<const char*, kEngineSlots> labels_{};
};

// "COM1" to "COM4" give 0 to 3; anything else kEngineSlots.
std::size_t SlotOf(const char* portName);

}  // namespace tarnwick::cli
